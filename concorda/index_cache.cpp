#include "concorda/index_cache.h"

#include <algorithm>

namespace concorda {

const CMemFile* CIndexFileCache::Get(WORD number, const Reader& read) {
  for (auto& r : m_a)
    if (r.wNumber == number) {
      ++r.dwUse;
      return r.pFile;
    }
  auto* file = new CMemFile(4096);
  if (!read(number, *file)) {
    delete file;
    return nullptr;
  }
  if (m_a.size() > kMaxFiles - 1) {
    auto victim = std::min_element(m_a.begin(), m_a.end(),
                                   [](const Record& a, const Record& b) { return a.dwUse < b.dwUse; });
    delete victim->pFile;
    m_a.erase(victim);
  }
  m_a.push_back(Record{number, 1, file});
  return file;
}

void CIndexFileCache::Clear() {
  for (auto& r : m_a) delete r.pFile;
  m_a.clear();
}

void CIndexFileCache::ResetUseCounts() {
  for (auto& r : m_a) r.dwUse = 1;
}

}  // namespace concorda
