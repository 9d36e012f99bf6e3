#include "portico/search_cache.h"

#include <algorithm>

#include "kasten/file_server.h"

namespace portico {

DWORD CSearchCache::Key(std::string_view query) {
  // The query of a request holds no zero byte; MakeHash reads up to one.
  return CFileServer::MakeHash(std::string(query).c_str());
}

std::vector<CSearchCache::Entry>::const_iterator CSearchCache::Locate(DWORD key, const std::string& query) const {
  auto it = std::lower_bound(m_aEntries.begin(), m_aEntries.end(), key,
                             [](const Entry& e, DWORD k) { return e.dwKey < k; });
  for (; it != m_aEntries.end() && it->dwKey == key; ++it)
    if (it->strQuery == query) return it;
  return m_aEntries.end();
}

CSearchCache::List CSearchCache::Find(const std::string& query) const {
  const DWORD key = Key(query);
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = Locate(key, query);
  if (m_counters) m_counters->Count(it != m_aEntries.end());
  if (it == m_aEntries.end()) {
    ++m_nMisses;
    return nullptr;
  }
  ++m_nHits;
  return it->list;
}

void CSearchCache::Store(const std::string& query, List list) {
  const DWORD key = Key(query);
  std::lock_guard<std::mutex> lock(m_mutex);
  if (Locate(key, query) != m_aEntries.end()) return;
  if (m_aEntries.size() > kMaxEntries) Evict();
  // Behind the entries of an equal key: the array stays sorted without a sort.
  auto at = std::upper_bound(m_aEntries.begin(), m_aEntries.end(), key,
                             [](DWORD k, const Entry& e) { return k < e.dwKey; });
  m_aEntries.insert(at, Entry{key, query, std::move(list)});
}

void CSearchCache::Evict() {
  const std::size_t n = m_aEntries.size() / 2;
  auto first = m_aEntries.begin();
  if (m_nToggle == 1) {
    m_nToggle = 0;
    first += static_cast<std::ptrdiff_t>(n);
  } else {
    m_nToggle = 1;
  }
  // Holders of an evicted list keep their own reference to it.
  m_aEntries.erase(first, first + static_cast<std::ptrdiff_t>(n));
}

std::size_t CSearchCache::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_aEntries.size();
}

bool CSearchCache::Contains(const std::string& query) const {
  const DWORD key = Key(query);
  std::lock_guard<std::mutex> lock(m_mutex);
  return Locate(key, query) != m_aEntries.end();
}

std::size_t CSearchCache::Hits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nHits;
}

std::size_t CSearchCache::Misses() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nMisses;
}

}  // namespace portico
