// vamubase lemmas: why a query with all forms of a word ("~umowa") found a
// document. Prints the word's lemmas from the Polish dictionary and, for
// each, the forms of it that the base holds, so an editor sees which words
// of the base a marked query word stands for. Texts are windows-1250 bytes.
#include <iostream>

#include "concorda/doc_server.h"
#include "concorda/lemmatizer.h"
#include "concorda/word_forms.h"
#include "platform/cp1250.h"
#include "tools/vamubase/command.h"

namespace vamubase {
namespace {

int Lemmas(std::vector<std::string>& args) {
  const bool fold = TakeFlag(args, "--fold");
  if (!NoOptionsLeft("lemmas", args)) return kUsage;
  if (args.size() != 2) return Usage("lemmas", "give a base and one word");
  std::string word = args[1];
  cp1250::UpperCase(word.data(), word.size());
  if (word.empty() || word.size() > concorda::kMaxLemmaWord) return Usage("lemmas", "the word is empty or too long");
  const concorda::CLemmatizer* dictionary = concorda::CLemmatizer::Shared();
  if (!dictionary) return Fail("the Polish dictionary cannot be read (package hunspell-pl)");
  CDocServer base;
  if (!OpenBase(base, args[0], false)) return kFailed;

  const std::vector<std::string> lemmas = base.LemmasOf(word, fold);
  if (lemmas.empty()) {
    std::cerr << "vamubase: the dictionary does not know " << word << "; a query matches it as written\n";
    return kOk;
  }
  // One line a lemma: the lemma, a tab, the forms the base holds.
  for (const std::string& lemma : lemmas) {
    const std::vector<DWORD> forms = base.FormsOf(lemma);
    std::cout << lemma << "\t";
    for (std::size_t i = 0; i < forms.size(); ++i) std::cout << (i ? " " : "") << base.GetWordAt(forms[i]);
    std::cout << "\n";
  }
  return kOk;
}

}  // namespace

VAMUBASE_COMMAND(lemmas, "lemmas", "[--fold] BASE WORD",
                 "print the lemmas of a word and the forms of each that the base holds",
                 "One line a lemma: the lemma, a tab, its forms in the base (windows-1250,\n"
                 "upper case). These are the words a query ~WORD finds.\n"
                 "  --fold  also the lemmas of the words of the base and the lemmas that read\n"
                 "          as WORD without the marks of their letters (as the query ~^WORD)\n",
                 Lemmas);

}  // namespace vamubase
