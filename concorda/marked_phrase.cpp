#include "concorda/marked_phrase.h"

#include "concorda/fragment.h"
#include "concorda/query_markers.h"
#include "concorda/word_tokenizer.h"

namespace concorda {

namespace {

// The words of a phrase, each with the markers before it.
std::vector<std::string_view> PhraseWords(std::string_view phrase) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < phrase.size()) {
    std::size_t start = i;
    while (i < phrase.size() && IsMarker(static_cast<unsigned char>(phrase[i]))) ++i;
    const std::size_t letters = i;
    while (i < phrase.size() && IsWordChar(static_cast<unsigned char>(phrase[i]))) ++i;
    if (i > letters) out.push_back(phrase.substr(start, i - start));
    else i = letters + (letters == start ? 1 : 0);
  }
  return out;
}

}  // namespace

bool HasMarkedWord(std::string_view phrase) {
  for (std::string_view word : PhraseWords(phrase))
    if (IsMarker(static_cast<unsigned char>(word[0]))) return true;
  return false;
}

CMarkedPhrase::CMarkedPhrase(std::string_view phrase,
                             const std::function<void(std::string_view, std::vector<std::string>&)>& expand) {
  std::vector<std::string> words;
  for (std::string_view word : PhraseWords(phrase)) {
    words.clear();
    if (IsMarker(static_cast<unsigned char>(word[0]))) expand(word, words);
    else words.emplace_back(word);
    m_steps.emplace_back(words.begin(), words.end());
  }
}

bool CMarkedPhrase::FoundIn(const CDocWords& words) const {
  const std::size_t n = m_steps.size();
  if (n == 0) return words.Count() > 0;
  for (std::size_t i = 0; i + n <= words.Count(); ++i) {
    std::size_t k = 0;
    while (k < n && m_steps[k].count(std::string(words.Text(i + k)))) ++k;
    if (k == n) return true;
  }
  return false;
}

}  // namespace concorda
