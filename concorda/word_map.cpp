#include "concorda/word_map.h"

#include <algorithm>

namespace concorda {

std::vector<std::pair<const std::string*, DWORD>> CWordMap::Sorted() const {
  std::vector<std::pair<const std::string*, DWORD>> out;
  out.reserve(m_counts.size());
  for (const auto& [word, count] : m_counts) out.emplace_back(&word, count);
  // std::string compares bytes as unsigned, as the word table does.
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
  return out;
}

CWordMap& ProcessWordMap() {
  static CWordMap map;
  return map;
}

CMutex& IndexingMutex() {
  static CMutex mutex;
  return mutex;
}

}  // namespace concorda
