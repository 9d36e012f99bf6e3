#include "concorda/term_cache.h"

namespace concorda {

std::shared_ptr<const TermEntry> CTermCache::Find(const std::string& term) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_a.find(term);
  if (it == m_a.end()) return nullptr;
  m_order.splice(m_order.begin(), m_order, it->second.place);
  return it->second.entry;
}

void CTermCache::Store(const std::string& term, std::shared_ptr<const TermEntry> entry) {
  if (!entry || entry->aItems.size() > kMaxItems) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_a.count(term)) return;
  while (!m_order.empty() && (m_a.size() >= kMaxEntries || m_nItems + entry->aItems.size() > kMaxItems)) {
    auto last = m_a.find(m_order.back());
    m_nItems -= last->second.entry->aItems.size();
    m_a.erase(last);
    m_order.pop_back();
  }
  m_order.push_front(term);
  m_nItems += entry->aItems.size();
  m_a.emplace(term, Slot{std::move(entry), m_order.begin()});
}

void CTermCache::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_a.clear();
  m_order.clear();
  m_nItems = 0;
}

std::size_t CTermCache::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_a.size();
}

}  // namespace concorda
