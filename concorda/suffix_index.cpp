#include "concorda/suffix_index.h"

#include <algorithm>
#include <cstring>

namespace concorda {

int CompareBackwards(std::string_view a, std::string_view b) {
  std::size_t la = a.size(), lb = b.size();
  while (la > 0 && lb > 0) {
    auto ca = static_cast<unsigned char>(a[--la]);
    auto cb = static_cast<unsigned char>(b[--lb]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

std::vector<DWORD> BuildSuffixIndex(const CWordTable& table) {
  const std::size_t n = table.Size();
  std::vector<std::size_t> length(n);
  std::vector<DWORD> index(n);
  for (std::size_t i = 0; i < n; ++i) {
    index[i] = static_cast<DWORD>(i);
    length[i] = std::strlen(table[i].m_pWord);
  }
  std::sort(index.begin(), index.end(), [&](DWORD a, DWORD b) {
    return CompareBackwards(std::string_view(table[a].m_pWord, length[a]), std::string_view(table[b].m_pWord, length[b])) < 0;
  });
  return index;
}

std::pair<std::size_t, std::size_t> SuffixRange(const CWordTable& table, const std::vector<DWORD>& index,
                                                 const char* suffix) {
  const std::size_t ls = std::strlen(suffix);
  auto first = std::lower_bound(index.begin(), index.end(), suffix, [&](DWORD w, const char* s) {
    return CompareBackwards(table[w].m_pWord, std::string_view(s, ls)) < 0;
  });
  auto last = first;
  while (last != index.end()) {
    if (!EndsWith(table[*last].m_pWord, std::string_view(suffix, ls))) break;
    ++last;
  }
  return {static_cast<std::size_t>(first - index.begin()), static_cast<std::size_t>(last - index.begin())};
}

}  // namespace concorda
