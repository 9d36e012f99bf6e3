// A quoted phrase with marked words ("~umowa ~najmu"): its words must stand
// one right after the other in a document, each one of the words its query
// word stands for (the forms of a "~" word, the words that read alike of a
// "^" word, exactly the word for an unmarked one). Such a phrase is matched
// word by word as the index tokenizer cuts the text, not byte by byte as an
// unmarked phrase is: punctuation between its words does not matter, and a
// word of it must be a whole word of the text.
//
// Thread-safe once built.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace concorda {

class CDocWords;

// True when the upper-case phrase holds a marker before one of its words.
bool HasMarkedWord(std::string_view phrase);

class CMarkedPhrase {
 public:
  // `expand` appends the words (upper-case) a marked word of the phrase
  // stands for; an unmarked word stands for itself.
  CMarkedPhrase(std::string_view phrase, const std::function<void(std::string_view, std::vector<std::string>&)>& expand);

  // True when the words stand in a row in the document's words. A phrase
  // without words is found in any document that has a word.
  bool FoundIn(const CDocWords& words) const;

 private:
  std::vector<std::unordered_set<std::string>> m_steps;
};

}  // namespace concorda
