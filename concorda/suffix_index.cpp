#include "concorda/suffix_index.h"

#include <algorithm>
#include <cstring>

namespace concorda {

namespace {

int CompareBackwards(const char* a, std::size_t la, const char* b, std::size_t lb) {
  while (la > 0 && lb > 0) {
    auto ca = static_cast<unsigned char>(a[--la]);
    auto cb = static_cast<unsigned char>(b[--lb]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

bool EndsWith(const char* word, std::size_t lw, const char* suffix, std::size_t ls) {
  return lw >= ls && std::memcmp(word + lw - ls, suffix, ls) == 0;
}

}  // namespace

std::vector<DWORD> BuildSuffixIndex(const CWordTable& table) {
  const std::size_t n = table.Size();
  std::vector<std::size_t> length(n);
  std::vector<DWORD> index(n);
  for (std::size_t i = 0; i < n; ++i) {
    index[i] = static_cast<DWORD>(i);
    length[i] = std::strlen(table[i].m_pWord);
  }
  std::sort(index.begin(), index.end(), [&](DWORD a, DWORD b) {
    return CompareBackwards(table[a].m_pWord, length[a], table[b].m_pWord, length[b]) < 0;
  });
  return index;
}

std::pair<std::size_t, std::size_t> SuffixRange(const CWordTable& table, const std::vector<DWORD>& index,
                                                 const char* suffix) {
  const std::size_t ls = std::strlen(suffix);
  auto first = std::lower_bound(index.begin(), index.end(), suffix, [&](DWORD w, const char* s) {
    const char* word = table[w].m_pWord;
    return CompareBackwards(word, std::strlen(word), s, ls) < 0;
  });
  auto last = first;
  while (last != index.end()) {
    const char* word = table[*last].m_pWord;
    if (!EndsWith(word, std::strlen(word), suffix, ls)) break;
    ++last;
  }
  return {static_cast<std::size_t>(first - index.begin()), static_cast<std::size_t>(last - index.begin())};
}

}  // namespace concorda
