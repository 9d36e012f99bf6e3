#include "concorda/change_log.h"

#include <algorithm>

#include "concorda/word_index.h"

namespace concorda {

bool ApplyChange(const ChangeRecord& r, DWORD& x) {
  switch (r.kind) {
    case kChangeInserted:
      if (x >= r.index) ++x;
      return true;
    case kChangeDeleted:
      if (x == r.index) return false;
      if (x > r.index) --x;
      return true;
    case kChangeRemoved:
      return x != r.index;
    default:
      return true;
  }
}

void CChangeMap::Build(const ChangeRecord* records, std::size_t count) {
  m_a.assign(1, Piece{0, LONGLONG(1) << 40, 0});
  for (std::size_t k = 0; k < count; ++k) {
    const LONGLONG j = records[k].index;
    // First piece whose outputs reach j (outputs grow from piece to piece).
    auto it = std::lower_bound(m_a.begin(), m_a.end(), j,
                               [](const Piece& p, LONGLONG v) { return p.end - 1 + p.delta < v; });
    if (it == m_a.end()) continue;
    std::size_t i = static_cast<std::size_t>(it - m_a.begin());
    const LONGLONG x = j - m_a[i].delta;  // input that currently maps to j, if inside the piece
    const bool hit = x >= m_a[i].start;
    switch (records[k].kind) {
      case kChangeInserted:
        if (hit && x > m_a[i].start) {  // split: the part from x on moves up
          Piece right{x, m_a[i].end, m_a[i].delta};
          m_a[i].end = x;
          m_a.insert(m_a.begin() + static_cast<std::ptrdiff_t>(++i), right);
        }
        for (; i < m_a.size(); ++i) ++m_a[i].delta;
        break;
      case kChangeDeleted:
      case kChangeRemoved: {
        std::size_t next = i;
        if (hit) {  // take x out of its piece
          Piece& p = m_a[i];
          if (p.start == x && p.end == x + 1) {
            m_a.erase(m_a.begin() + static_cast<std::ptrdiff_t>(i));
          } else if (p.start == x) {
            ++p.start;
          } else if (p.end == x + 1) {
            --p.end;
            next = i + 1;
          } else {
            Piece right{x + 1, p.end, p.delta};
            p.end = x;
            m_a.insert(m_a.begin() + static_cast<std::ptrdiff_t>(i + 1), right);
            next = i + 1;
          }
        }
        if (records[k].kind == kChangeDeleted)
          for (std::size_t n = next; n < m_a.size(); ++n) --m_a[n].delta;
        break;
      }
      default:
        break;
    }
  }
}

bool CChangeMap::Map(DWORD& x) const {
  auto it = std::upper_bound(m_a.begin(), m_a.end(), LONGLONG(x),
                             [](LONGLONG v, const Piece& p) { return v < p.start; });
  if (it == m_a.begin()) return false;
  --it;
  if (LONGLONG(x) >= it->end) return false;
  x = static_cast<DWORD>(LONGLONG(x) + it->delta);
  return true;
}

void CChangeLog::Append(BYTE kind, DWORD index) {
  m_a.push_back(ChangeRecord{kind, index});
  m_maps.clear();
}

void CChangeLog::Clear() {
  m_a.clear();
  m_maps.clear();
}

void CChangeLog::Truncate(std::size_t size) {
  if (size >= m_a.size()) return;
  m_a.resize(size);
  m_maps.clear();
}

bool CChangeLog::Apply(std::vector<DWORD>& topics, std::size_t from) {
  if (from >= m_a.size() || topics.empty()) return false;
  auto found = m_maps.find(from);
  if (found == m_maps.end()) {
    found = m_maps.emplace(from, CChangeMap()).first;
    found->second.Build(m_a.data() + from, m_a.size() - from);
  }
  const CChangeMap& map = found->second;
  bool changed = false;
  std::size_t out = 0;
  for (DWORD t : topics) {
    DWORD x = TopicItem(t);
    if (!map.Map(x)) {
      changed = true;
      continue;
    }
    DWORD moved = (t & ~kItemMask) | (x & kItemMask);
    changed |= moved != t;
    topics[out++] = moved;
  }
  topics.resize(out);
  return changed;
}

}  // namespace concorda
