#include "portico/range_cache.h"

#include <algorithm>

#include "biblion/srv_srv.h"

namespace portico {

namespace {

// The acts of one journal within the bounds, appended to `out`.
void AppendRange(const CSrvSrv& catalogue, const SearchFields& fields, DWORD journal, std::vector<DWORD>& out) {
  _RNP lower, upper;
  SearchBounds(fields, journal, &lower, &upper);
  if (out.empty()) {  // the first journal's acts are the list (FindFromRNP replaces it)
    catalogue.FindFromRNP(&lower, &upper, fields.nMode, out);
    return;
  }
  std::vector<DWORD> range;
  catalogue.FindFromRNP(&lower, &upper, fields.nMode, range);
  out.insert(out.end(), range.begin(), range.end());
}

std::vector<DWORD> ActsWithin(const CSrvSrv& catalogue, const SearchFields& fields) {
  std::vector<DWORD> range;
  switch (fields.nJournals) {
    case 0:
      AppendRange(catalogue, fields, _RNP::kDzU, range);
      AppendRange(catalogue, fields, _RNP::kMP, range);
      break;
    case 1: AppendRange(catalogue, fields, _RNP::kDzU, range); break;
    case 2: AppendRange(catalogue, fields, _RNP::kMP, range); break;
    default: break;  // selects nothing
  }
  return range;
}

}  // namespace

CRangeCache::Key CRangeCache::KeyOf(const SearchFields& fields) {
  Key key;
  key.journals = fields.nJournals;
  key.mode = fields.nMode;
  _RNP lower, upper;
  SearchBounds(fields, _RNP::kDzU, &lower, &upper);
  key.bounds[0] = lower.dw;
  key.bounds[1] = upper.dw;
  SearchBounds(fields, _RNP::kMP, &lower, &upper);
  key.bounds[2] = lower.dw;
  key.bounds[3] = upper.dw;
  return key;
}

CRangeCache::Range CRangeCache::Get(const CSrvSrv& catalogue, const SearchFields& fields) {
  const Key key = KeyOf(fields);
  auto find = [&] {
    return std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.first == key; });
  };
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto it = find(); it != m_entries.end()) {
      Range range = it->second;
      std::rotate(it, it + 1, m_entries.end());  // now the most recently used
      return range;
    }
  }
  Range made = std::make_shared<const CPreparedRange>(ActsWithin(catalogue, fields));
  std::lock_guard<std::mutex> lock(m_mutex);
  if (auto it = find(); it != m_entries.end()) return it->second;
  if (m_entries.size() >= kMaxEntries) m_entries.erase(m_entries.begin());
  m_entries.emplace_back(key, made);
  return made;
}

std::size_t CRangeCache::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries.size();
}

}  // namespace portico
