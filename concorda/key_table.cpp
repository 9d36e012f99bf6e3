#include "concorda/key_table.h"

#include <algorithm>

#include "concorda/bytes.h"
#include "concorda/change_log.h"

namespace concorda {

namespace {

auto HashLess = [](const KeyEntry& e, DWORD h) { return e.dwHash < h; };

}  // namespace

void CKeyTable::Add(DWORD hash, DWORD item) {
  auto it = std::lower_bound(m_a.begin(), m_a.end(), hash, HashLess);
  if (it != m_a.end() && it->dwHash == hash) {
    if (std::find(it->aItems.begin(), it->aItems.end(), item) == it->aItems.end()) it->aItems.push_back(item);
    return;
  }
  m_a.insert(it, KeyEntry{hash, {item}});
}

const KeyEntry* CKeyTable::Find(DWORD hash) const {
  auto it = std::lower_bound(m_a.begin(), m_a.end(), hash, HashLess);
  return it != m_a.end() && it->dwHash == hash ? &*it : nullptr;
}

bool CKeyTable::Apply(BYTE kind, DWORD index) {
  const ChangeRecord r{kind, index};
  bool changed = false;
  for (auto& e : m_a) {
    std::size_t out = 0;
    for (DWORD x : e.aItems) {
      DWORD y = x;
      if (!ApplyChange(r, y)) {
        changed = true;
        continue;
      }
      changed |= y != x;
      e.aItems[out++] = y;
    }
    e.aItems.resize(out);
  }
  return changed;
}

std::vector<BYTE> CKeyTable::Serialize() const {
  std::vector<BYTE> out;
  std::size_t total = 0;
  for (const auto& e : m_a) total += e.aItems.size();
  out.reserve(4 + 8 * m_a.size() + 4 * total);
  PutDword(out, static_cast<DWORD>(m_a.size()));
  for (const auto& e : m_a) {
    PutDword(out, e.dwHash);
    PutDword(out, static_cast<DWORD>(e.aItems.size()));
  }
  for (const auto& e : m_a)
    for (DWORD x : e.aItems) PutDword(out, x);
  return out;
}

bool CKeyTable::Parse(const BYTE* data, std::size_t length) {
  m_a.clear();
  CByteReader in(data, length);
  DWORD n = 0;
  if (!in.Dword(0, n)) return false;
  bool whole = true;
  if (!in.Fits(4, ULONGLONG(n) * 8)) {  // keep the pairs that are there
    n = static_cast<DWORD>((length - 4) / 8);
    whole = false;
  }
  m_a.reserve(n);
  ULONGLONG at = 4 + ULONGLONG(n) * 8;
  for (DWORD k = 0; k < n; ++k) {
    DWORD hash = GetDword(data + 4 + 8 * ULONGLONG(k));
    DWORD count = GetDword(data + 8 + 8 * ULONGLONG(k));
    if (!in.Fits(at, ULONGLONG(count) * 4)) {
      whole = false;
      break;
    }
    KeyEntry e{hash, {}};
    e.aItems.reserve(count);
    for (DWORD i = 0; i < count; ++i, at += 4) e.aItems.push_back(GetDword(data + at));
    m_a.push_back(std::move(e));
  }
  // Lookups are binary searches: a damaged file must not leave the table unsorted.
  if (!std::is_sorted(m_a.begin(), m_a.end(), [](const KeyEntry& a, const KeyEntry& b) { return a.dwHash < b.dwHash; })) {
    std::stable_sort(m_a.begin(), m_a.end(), [](const KeyEntry& a, const KeyEntry& b) { return a.dwHash < b.dwHash; });
    whole = false;
  }
  return whole;
}

}  // namespace concorda
