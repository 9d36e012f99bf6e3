#include "concorda/term_words.h"

#include <algorithm>
#include <cstring>

#include "concorda/query.h"
#include "concorda/suffix_index.h"

namespace concorda {

namespace {

bool IsWildcard(char c) { return c == '*' || c == '?'; }

}  // namespace

bool TermNamesWord(const std::string& term, std::string_view word) {
  if (!HasWildcard(term)) return word == term;
  // A term that begins with a wildcard and ends with a literal takes only
  // the words that end with that literal (the suffix index's candidates).
  if (IsWildcard(term.front()) && !IsWildcard(term.back()) &&
      !EndsWith(word, std::string_view(term).substr(term.find_last_of("*?") + 1)))
    return false;
  const std::string text(word);
  return MatchPattern(term.c_str(), text.c_str());
}

bool ScansWholeTable(const std::string& term) {
  return !term.empty() && IsWildcard(term.front()) && IsWildcard(term.back());
}

void FindTermWords(const CWordTable& table, const std::function<const std::vector<DWORD>&()>& suffixIndex,
                   const std::string& term, std::vector<std::size_t>& out, const CQueryBudget* budget) {
  auto tick = [budget](std::size_t i) {
    if (budget && i % 4096 == 4095) budget->CheckTime();
  };
  if (term.empty()) return;
  const char* pattern = term.c_str();
  if (!HasWildcard(term)) {
    std::size_t i = table.Find(pattern);
    if (i != CWordTable::npos) out.push_back(i);
    return;
  }
  if (IsWildcard(term.front())) {
    if (IsWildcard(term.back())) {
      for (std::size_t i = 0; i < table.Size(); ++i) {
        tick(i);
        if (MatchPattern(pattern, table[i].m_pWord)) out.push_back(i);
      }
      return;
    }
    const char* suffix = pattern + term.find_last_of("*?") + 1;
    const std::vector<DWORD>& index = suffixIndex();
    auto [first, last] = SuffixRange(table, index, suffix);
    std::size_t begin = out.size();
    for (std::size_t k = first; k < last; ++k) {
      tick(k);
      if (MatchPattern(pattern, table[index[k]].m_pWord)) out.push_back(index[k]);
    }
    // Callers take the words in table order.
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
    return;
  }
  const std::string prefix = term.substr(0, term.find_first_of("*?"));
  for (std::size_t i = table.LowerBound(prefix.c_str()); i < table.Size(); ++i) {
    tick(i);
    const char* word = table[i].m_pWord;
    if (std::strncmp(word, prefix.c_str(), prefix.size()) != 0) break;
    if (MatchPattern(pattern, word)) out.push_back(i);
  }
}

}  // namespace concorda
