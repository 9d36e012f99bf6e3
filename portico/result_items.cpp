#include "portico/result_items.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace portico {

namespace {

// Counting pays when the highest number is not far above the count of items
// (the counts are read once more each); below some thousand items sorting is
// as quick.
constexpr std::size_t kFewItems = 1024;
bool Countable(DWORD highest, std::size_t items) { return highest < 4 * items + 65536; }

// The counts of one search, kept by its thread from search to search: a
// fresh table every time would cost a page fault a page.
std::vector<std::uint8_t>& Counts(DWORD highest) {
  thread_local std::vector<std::uint8_t> counts;
  counts.assign(static_cast<std::size_t>(highest) + 1, 0);
  return counts;
}

// Counts the items into `counts`; false when one of them comes 255 times or more.
bool CountItems(const std::vector<DWORD>& items, std::vector<std::uint8_t>& counts) {
  for (DWORD x : items)
    if (++counts[x] == 255) return false;
  return true;
}

}  // namespace

void SortItems(std::vector<DWORD>& items) {
  // The hits of a word query mostly come in order already.
  if (std::is_sorted(items.begin(), items.end())) return;
  if (items.size() < kFewItems) {
    std::sort(items.begin(), items.end());
    return;
  }
  const DWORD highest = *std::max_element(items.begin(), items.end());
  if (!Countable(highest, items.size())) {
    std::sort(items.begin(), items.end());
    return;
  }
  std::vector<std::uint8_t>& counts = Counts(highest);
  if (!CountItems(items, counts)) {
    std::sort(items.begin(), items.end());
    return;
  }
  std::size_t at = 0;
  for (DWORD x = 0; x <= highest; ++x)
    for (std::uint8_t k = counts[x]; k; --k) items[at++] = x;
}

CPreparedRange::CPreparedRange(std::vector<DWORD> items) : m_sorted(std::move(items)) {
  SortItems(m_sorted);
  if (m_sorted.size() < kFewItems || !Countable(m_sorted.back(), m_sorted.size())) return;
  m_counts.assign(static_cast<std::size_t>(m_sorted.back()) + 1, 0);
  if (!CountItems(m_sorted, m_counts)) {
    m_counts.clear();
    m_counts.shrink_to_fit();
  }
}

std::vector<DWORD> CPreparedRange::Intersect(std::vector<DWORD>& hits) const {
  SortItems(hits);
  std::vector<DWORD> result;
  if (m_sorted.empty() || hits.empty()) return result;
  if (!m_counts.empty()) {
    const DWORD highest = m_sorted.back();
    // A run of one item among the hits keeps as many of it as the range has.
    for (std::size_t i = 0; i < hits.size();) {
      const DWORD x = hits[i];
      std::size_t run = 1;
      while (i + run < hits.size() && hits[i + run] == x) ++run;
      const std::size_t keep = x <= highest ? std::min<std::size_t>(run, m_counts[x]) : 0;
      result.insert(result.end(), keep, x);
      i += run;
    }
    return result;
  }
  std::set_intersection(m_sorted.begin(), m_sorted.end(), hits.begin(), hits.end(), std::back_inserter(result));
  return result;
}

std::vector<DWORD> ItemsInBoth(const std::vector<DWORD>& range, std::vector<DWORD>& hits) {
  return CPreparedRange(range).Intersect(hits);
}

}  // namespace portico
