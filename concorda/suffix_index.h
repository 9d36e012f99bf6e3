// The suffix index of a word table: the positions of all words ordered by the
// words read backwards (last bytes first, unsigned; a word that is the end of
// another sorts first), so that the words ending with a given text are
// adjacent. Queries with a leading wildcard ("*AWA") use it.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "concorda/word_index.h"

namespace concorda {

// The order of words read backwards: last bytes first, unsigned; a word
// that is the end of the other sorts first. Negative, 0 or positive.
int CompareBackwards(std::string_view a, std::string_view b);
inline bool EndsWith(std::string_view word, std::string_view suffix) {
  return word.size() >= suffix.size() && word.compare(word.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Positions in `table`, ordered backwards by word.
std::vector<DWORD> BuildSuffixIndex(const CWordTable& table);

// The range [first, last) of `index` whose words end with `suffix`.
std::pair<std::size_t, std::size_t> SuffixRange(const CWordTable& table, const std::vector<DWORD>& index,
                                                 const char* suffix);

}  // namespace concorda
