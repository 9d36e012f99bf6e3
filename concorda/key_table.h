// The key table of the document index: for every key hash, the items that
// carry that key. Keys come with each document as a ';'-separated string and
// find documents by act reference (FindFirstDocFromKey). Used by CDocServer;
// not locked (changes must not overlap with queries).
//
// Stored form (the key table system file; little-endian words):
//   0          N, the number of keys
//   4          N pairs (key hash, item count c), ascending by hash
//   4 + 8N     for each key in the same order, its c item indices
#pragma once

#include <cstddef>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

struct KeyEntry {
  DWORD dwHash;
  std::vector<DWORD> aItems;  // insertion order, no duplicates
};

class CKeyTable {
 public:
  // Records `item` under `hash` unless it is there already.
  void Add(DWORD hash, DWORD item);
  // The entry of a hash, or null.
  const KeyEntry* Find(DWORD hash) const;
  // Applies a shift or removal of item indices (ChangeKind) to every list;
  // true when any list changed.
  bool Apply(BYTE kind, DWORD index);

  std::size_t Size() const { return m_a.size(); }
  const std::vector<KeyEntry>& Entries() const { return m_a; }
  void Clear() {
    m_a.clear();
    m_a.shrink_to_fit();
  }

  // The stored form.
  std::vector<BYTE> Serialize() const;
  // Loads the stored form. A damaged file (counts that do not fit its length)
  // keeps the keys whose lists are whole and returns false.
  bool Parse(const BYTE* data, std::size_t length);

 private:
  std::vector<KeyEntry> m_a;  // ascending by hash
};

}  // namespace concorda
