// All forms of a word and letters without marks on the demo bases and on a
// generated corpus, against a scan that knows nothing of the index: the
// documents are read and cut into words here, each word is given to the
// Polish dictionary of Hunspell directly (converted by the C library, not by
// the code page tables of the product), and letters lose their marks by the C
// library's transliteration. "~lemma" must find exactly the documents with a
// word that shares a lemma with it, "^word" exactly those with a word that
// reads the same without marks.
#include <gtest/gtest.h>
#include <hunspell.hxx>
#include <iconv.h>
#include <locale.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "concorda/word_tokenizer.h"
#include "demo/synthetic.h"
#include "platform/cp1250.h"
#include "platform/file.h"

namespace {

// Bytes through the C library's converter; empty when they do not convert.
// One converter per pair of code pages, reset before each use, closed at exit.
std::string Convert(const char* to, const char* from, const std::string& text) {
  struct Converter {
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    ~Converter() {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
  };
  static std::map<std::pair<std::string, std::string>, Converter> converters;
  auto [it, fresh] = converters.try_emplace({to, from});
  if (fresh) it->second.cd = iconv_open(to, from);
  iconv_t cd = it->second.cd;
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(text.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(text.data());
  char* o = out.data();
  std::size_t il = text.size(), ol = out.size();
  const std::size_t r = iconv(cd, &in, &il, &o, &ol);
  if (r == static_cast<std::size_t>(-1) || il != 0) return {};
  out.resize(out.size() - ol);
  return out;
}

// The legal vocabulary of the test (UTF-8).
const char* const kLemmas[] = {
    "umowa",        "sąd",           "wierzyciel", "kara",          "odpowiedzialność", "przepis",
    "ustawa",       "orzeczenie",    "dłużnik",    "strona",        "prawo",            "pracownik",
    "pracodawca",   "wyrok",         "postępowanie", "skarga",      "decyzja",          "organ",
    "sprawa",       "obowiązek",     "termin",     "wniosek",       "świadczenie",      "zobowiązanie",
    "szkoda",       "własność",      "rzecz",      "spadek",        "małżonek",         "dziecko",
    "osoba",        "najem",         "sprzedaż",   "darowizna",     "przestępstwo",     "sprawca",
    "czyn",         "grzywna",       "wolność",    "konstytucja",   "obywatel",         "minister",
    "rozporządzenie", "przedsiębiorca", "konsument", "odszkodowanie", "zapłata",        "trybunał",
    "sędzia",       "dowód"};

// The words of a document as read here: tags taken out (letters on both sides
// of a tag make one word, as the reader sees one word), runs of letters and
// digits, lower-case windows-1250.
std::set<std::string> ScanWords(const std::string& raw) {
  std::string text;
  bool inTag = false;
  for (char c : raw) {
    if (c == '<') inTag = true;
    else if (c == '>' && inTag) inTag = false;
    else if (!inTag) text += c;
  }
  std::set<std::string> out;
  std::string word;
  for (char c : text + " ") {
    const auto b = static_cast<unsigned char>(c);
    if (cp1250::IsAlnum(b)) {
      word += static_cast<char>(cp1250::ToLower(b));
    } else if (!word.empty()) {
      out.insert(word);
      word.clear();
    }
  }
  return out;
}

class Dictionary {
 public:
  Dictionary() : m_h("/usr/share/hunspell/pl_PL.aff", "/usr/share/hunspell/pl_PL.dic") {}
  // Lemmas (ISO-8859-2, lower case) of a windows-1250 word; none for words
  // with digits or letters ISO-8859-2 lacks.
  const std::set<std::string>& Lemmas(const std::string& cp1250Word) {
    auto [it, fresh] = m_cache.try_emplace(cp1250Word);
    if (!fresh) return it->second;
    for (char c : cp1250Word)
      if (c >= '0' && c <= '9') return it->second;
    const std::string iso = Convert("ISO-8859-2", "CP1250", cp1250Word);
    if (iso.empty()) return it->second;
    for (const std::string& s : m_h.stem(iso)) it->second.insert(s);
    return it->second;
  }

 private:
  Hunspell m_h;
  std::map<std::string, std::set<std::string>> m_cache;
};

// Letters without marks by the C library's transliteration (C.UTF-8 locale).
std::string Fold(const std::string& cp1250Word) {
  std::string out;
  // Letter by letter: a letter without a one-letter transliteration (ß) stays.
  for (char c : cp1250Word) {
    std::string one = Convert("ASCII//TRANSLIT", "CP1250", std::string(1, c));
    out += one.size() == 1 && one != "?" ? one : std::string(1, c);
  }
  return out;
}

struct Base {
  std::string name;
  std::unique_ptr<CDocServer> server;
  std::map<DWORD, std::set<std::string>> docWords;  // slot -> words, read here
};

class WordFormsCorpus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = ::testing::TempDir() + "/vamu_word_forms." + std::to_string(::getpid());
    const std::string command = "rm -rf '" + dir + "' && '" VAMU_SOURCE_DIR "/demo/build-demo.sh' '" VAMU_BIN_DIR
                                "' '" + dir + "' >/dev/null";
    if (std::system(command.c_str()) != 0) return;
    // A generated corpus of 400 documents beside the demo bases.
    {
      vamucorpus::SyntheticCorpus corpus;
      if (!corpus.Loaded()) return;
      GUID guid{0x5151, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
      CDocServer writer((dir + "/generated.vq").c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite);
      for (std::size_t i = 0; i < 400; ++i) {
        const vamucorpus::Document doc = corpus.Make(i);
        CMemFile file(4096);
        file.Write(doc.data.data(), static_cast<UINT>(doc.data.size()));
        file.SeekToBegin();
        _FILEITEM* item = MakeFileItem(doc.name.c_str());
        writer.AddFile(file, item, doc.keys.c_str(), 2);
        CFileServer::FreeFileItem(item);
      }
      writer.Close();
    }
    for (const char* name : {"bases/acts.vq", "bases/rulings.vq", "generated.vq"}) {
      Base b;
      b.name = name;
      b.server = std::make_unique<CDocServer>();
      if (!b.server->Init((dir + "/" + name).c_str(), nullptr, CFile::modeRead)) return;
      for (DWORD i = 0; i < b.server->GetSize(); ++i) {
        if (b.server->IsSystemFile(i)) continue;
        CMemFile file(4096);
        _FILEITEM* item = b.server->GetFile(i, file, 0, FALSE);
        if (!item) continue;
        CFileServer::FreeFileItem(item);
        b.docWords[i] = ScanWords(std::string(reinterpret_cast<const char*>(file.GetBuffer()),
                                              static_cast<std::size_t>(file.GetLength())));
      }
      bases.push_back(std::move(b));
    }
    ready = true;
  }
  static void TearDownTestSuite() {
    bases.clear();
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  void SetUp() override { ASSERT_TRUE(ready) << "the demo bases or the generated base could not be made"; }

  static std::vector<DWORD> Query(CDocServer& s, const std::string& q) {
    std::vector<DWORD> out;
    WORD first = 0;
    CDocServer::FindHandle* h = s.FindFirstDoc(q.c_str(), &first, nullptr);
    if (h == CDocServer::NoFind()) return out;
    out.push_back(first);
    WORD next = 0;
    while (CDocServer::FindNextDoc(h, &next)) out.push_back(next);
    return out;
  }
  // Words the index refuses (one letter, stop words) are found by no query.
  static bool Indexable(const std::string& lowerWord) {
    std::string upper = lowerWord;
    cp1250::UpperCase(upper.data(), upper.size());
    return concorda::IsAdmitted(upper);
  }

  static inline std::string dir;
  static inline bool ready = false;
  static inline std::vector<Base> bases;
};

TEST_F(WordFormsCorpus, AllFormsFindTheDocumentsWhoseWordsShareALemma) {
  Dictionary dictionary;
  // The lemmas of the indexable words of each document, per base.
  std::vector<std::map<DWORD, std::set<std::string>>> docLemmas(bases.size());
  for (std::size_t k = 0; k < bases.size(); ++k)
    for (const auto& [slot, words] : bases[k].docWords)
      for (const std::string& w : words)
        if (Indexable(w))
          for (const std::string& l : dictionary.Lemmas(w)) docLemmas[k][slot].insert(l);
  std::size_t lemmasFound = 0, documentsFound = 0;
  for (const char* utf8 : kLemmas) {
    const std::string lemma = Convert("CP1250", "UTF-8", utf8);
    ASSERT_FALSE(lemma.empty()) << utf8;
    const std::set<std::string> wanted = dictionary.Lemmas(lemma);
    ASSERT_FALSE(wanted.empty()) << utf8 << ": the dictionary does not know it";
    bool anywhere = false;
    for (std::size_t k = 0; k < bases.size(); ++k) {
      Base& b = bases[k];
      std::vector<DWORD> expected;
      for (const auto& [slot, lemmas] : docLemmas[k]) {
        bool has = false;
        for (const std::string& l : wanted) has = has || lemmas.count(l);
        if (has) expected.push_back(slot & 0xFFFF);
      }
      EXPECT_EQ(Query(*b.server, "~" + lemma), expected) << b.name << " ~" << utf8;
      anywhere = anywhere || !expected.empty();
      documentsFound += expected.size();
    }
    lemmasFound += anywhere;
  }
  // The comparison means something only when the words stand in the texts.
  EXPECT_GE(lemmasFound, 40u);
  EXPECT_GE(documentsFound, 500u);
}

TEST_F(WordFormsCorpus, FoldedWordsFindTheDocumentsWhoseWordsReadTheSame) {
  locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(utf8, locale_t{});
  locale_t before = uselocale(utf8);
  // Each lemma without its marks, and a few words as readers type them.
  std::vector<std::string> queries;
  for (const char* l : kLemmas) queries.push_back(Fold(Convert("CP1250", "UTF-8", l)));
  for (const char* w : {"sadu", "lodz", "umowe", "swiadczen", "zobowiazan", "wlasnosci", "panstwo", "wiezienia"})
    queries.emplace_back(w);
  std::map<std::string, std::string> folded;  // each word of the texts once
  for (const Base& b : bases)
    for (const auto& [slot, words] : b.docWords)
      for (const std::string& w : words)
        if (Indexable(w) && !folded.count(w)) folded[w] = Fold(w);
  std::size_t found = 0;
  for (const std::string& q : queries) {
    for (Base& b : bases) {
      std::vector<DWORD> expected;
      for (const auto& [slot, words] : b.docWords) {
        bool has = false;
        for (const std::string& w : words) has = has || (Indexable(w) && folded.at(w) == q);
        if (has) expected.push_back(slot & 0xFFFF);
      }
      EXPECT_EQ(Query(*b.server, "^" + q), expected) << b.name << " ^" << q;
      found += expected.size();
    }
  }
  uselocale(before);
  freelocale(utf8);
  EXPECT_GE(found, 300u);
}

}  // namespace
