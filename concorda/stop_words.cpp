// The stop words, compiled to windows-1250 bytes (-fexec-charset=CP1250).
// "NIE" is also the negation of the query language and "LUB" its "or", which
// is why neither is ever indexed.
#include "concorda/word_tokenizer.h"

namespace concorda {

const char* const kStopWords[] = {
    "ABY",     "ALBO",     "ANI",    "BEZ",     "BYĆ",      "BĄDŹ",     "BĘDZIE",     "CO",
    "CZY",     "DANEGO",   "DOTYCZY", "GDY",    "GDZIE",    "ICH",      "IM",         "INNE",
    "INNEGO",  "INNEJ",    "INNY",   "INNYCH",  "INNYM",    "INNYMI",   "JE",         "JAK",
    "JAKI",    "JAKIE",    "JAKO",   "JEDNAK",  "JEGO",     "JEJ",      "JEST",       "JEŻELI",
    "KIEDY",   "KTO",      "KTÓRA",  "KTÓRE",   "KTÓREGO",  "KTÓREJ",   "KTÓRY",      "KTÓRYCH",
    "KTÓRYM",  "KTÓRZY",   "LUB",    "MA",      "MAJĄ",     "MOC",      "MOGĄ",       "MOŻE",
    "MU",      "NA",       "NAD",    "NICH",    "NIE",      "NIEGO",    "NIEJ",       "NIM",
    "NINIEJSZEGO", "NINIEJSZEJ", "NIŻ", "OD",   "ON",       "ONA",      "ONE",        "ORAZ",
    "PO",      "POD",      "POWINIEN", "POWINNA", "POWINNO", "POWINNY", "POZA",       "TAK",
    "TEGO",    "TYCH",     "WY",     "WAM",     "ZA",       "ZANIM",    "ZACO",       nullptr,
};

static_assert(sizeof(kStopWords) / sizeof(kStopWords[0]) == kStopWordCount + 1,
              "the stop-word list holds 79 words and a null");

}  // namespace concorda
