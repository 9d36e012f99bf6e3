#include "concorda/key_table.h"

#include <algorithm>

#include "concorda/bytes.h"
#include "concorda/change_log.h"

namespace concorda {

void CKeyTable::Add(DWORD hash, DWORD item) {
  std::vector<DWORD>& items = m_a[hash];
  bool absent;
  if (items.size() < kLongList) {
    absent = std::find(items.begin(), items.end(), item) == items.end();
  } else {
    // Each item is compared with the one before it once, when the known
    // ascending run first reaches it.
    std::size_t& ascending = m_ascending[hash];
    while (ascending < items.size() && (ascending == 0 || items[ascending - 1] < items[ascending])) ++ascending;
    if (ascending < items.size()) absent = std::find(items.begin(), items.end(), item) == items.end();
    else absent = items.back() < item || !std::binary_search(items.begin(), items.end(), item);
  }
  if (absent) items.push_back(item);
}

const std::vector<DWORD>* CKeyTable::Find(DWORD hash) const {
  auto it = m_a.find(hash);
  return it == m_a.end() ? nullptr : &it->second;
}

bool CKeyTable::Apply(BYTE kind, DWORD index) {
  m_ascending.clear();
  const ChangeRecord r{kind, index};
  bool changed = false;
  for (auto& [hash, items] : m_a) {
    std::size_t out = 0;
    for (DWORD x : items) {
      DWORD y = x;
      if (!ApplyChange(r, y)) {
        changed = true;
        continue;
      }
      changed |= y != x;
      items[out++] = y;
    }
    items.resize(out);
  }
  return changed;
}

std::vector<BYTE> CKeyTable::Serialize() const {
  std::vector<BYTE> out;
  std::size_t total = 0;
  for (const auto& [hash, items] : m_a) total += items.size();
  out.reserve(4 + 8 * m_a.size() + 4 * total);
  PutDword(out, static_cast<DWORD>(m_a.size()));
  for (const auto& [hash, items] : m_a) {
    PutDword(out, hash);
    PutDword(out, static_cast<DWORD>(items.size()));
  }
  for (const auto& [hash, items] : m_a)
    for (DWORD x : items) PutDword(out, x);
  return out;
}

bool CKeyTable::Parse(const BYTE* data, std::size_t length) {
  Clear();
  CByteReader in(data, length);
  DWORD n = 0;
  if (!in.Dword(0, n)) return false;
  bool whole = true;
  // Without all the pairs, where the lists begin is unknown: nothing is taken.
  if (!in.Fits(4, ULONGLONG(n) * 8)) return false;
  ULONGLONG at = 4 + ULONGLONG(n) * 8;
  DWORD previous = 0;
  for (DWORD k = 0; k < n; ++k) {
    DWORD hash = GetDword(data + 4 + 8 * ULONGLONG(k));
    DWORD count = GetDword(data + 8 + 8 * ULONGLONG(k));
    if (!in.Fits(at, ULONGLONG(count) * 4)) {
      whole = false;
      break;
    }
    if (k > 0 && hash <= previous) whole = false;  // out of order or repeated: merged here
    previous = hash;
    std::vector<DWORD>& items = m_a[hash];
    items.reserve(items.size() + count);
    for (DWORD i = 0; i < count; ++i, at += 4) items.push_back(GetDword(data + at));
  }
  return whole;
}

}  // namespace concorda
