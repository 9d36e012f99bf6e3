#include "portico/page_cache.h"

#include <cstdlib>

namespace portico {

namespace {

std::size_t BudgetFromEnvironment() {
  const char* v = std::getenv("VAMU_PAGE_CACHE_MB");
  if (!v || !*v) return CPageCache::kDefaultBudget;
  char* end = nullptr;
  unsigned long long mb = std::strtoull(v, &end, 10);
  if (*end || mb > (1ull << 20)) return CPageCache::kDefaultBudget;
  return static_cast<std::size_t>(mb) << 20;
}

}  // namespace

CPageCache::CPageCache() : m_budget(BudgetFromEnvironment()) {}

CPageCache::Entry CPageCache::Find(std::int32_t index) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_slots.find(index);
  if (m_counters) m_counters->Count(it != m_slots.end());
  if (it == m_slots.end()) return nullptr;
  m_order.splice(m_order.begin(), m_order, it->second.position);
  return it->second.page;
}

void CPageCache::Store(std::int32_t index, Page page) {
  const std::size_t size = SizeOf(page);
  if (size < kMinPage || size > m_budget / 8) return;
  auto entry = std::make_shared<const Page>(std::move(page));
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_slots.count(index)) return;
  while (m_bytes + size > m_budget && !m_order.empty()) {
    auto last = m_slots.find(m_order.back());
    m_bytes -= SizeOf(*last->second.page);
    m_slots.erase(last);
    m_order.pop_back();
  }
  m_order.push_front(index);
  m_slots.emplace(index, Slot{std::move(entry), m_order.begin()});
  m_bytes += size;
}

std::size_t CPageCache::Bytes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bytes;
}

bool CPageCache::Contains(std::int32_t index) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_slots.count(index) != 0;
}

}  // namespace portico
