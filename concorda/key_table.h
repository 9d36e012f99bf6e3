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
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

// Calls f(key) for each ';'-separated key of a key string; every piece is a
// key, the empty one between two separators or after the last one included.
template <class F>
void ForEachKey(const char* keys, F f) {
  for (const char* p = keys;;) {
    const char* end = p;
    while (*end && *end != ';') ++end;
    f(std::string(p, end));
    if (!*end) break;
    p = end + 1;
  }
}

class CKeyTable {
 public:
  // Key hash -> the items that carry the key (insertion order, no duplicates),
  // ascending by hash.
  using Entries = std::map<DWORD, std::vector<DWORD>>;

  // Records `item` under `hash` unless it is there already.
  void Add(DWORD hash, DWORD item);
  // The items of a hash, or null.
  const std::vector<DWORD>* Find(DWORD hash) const;
  // Applies a shift or removal of item indices (ChangeKind) to every list;
  // true when any list changed.
  bool Apply(BYTE kind, DWORD index);

  std::size_t Size() const { return m_a.size(); }
  const Entries& All() const { return m_a; }
  void Clear() {
    m_a.clear();
    m_ascending.clear();
  }

  // The stored form.
  std::vector<BYTE> Serialize() const;
  // Loads the stored form. A damaged file returns false: when its pairs do
  // not fit, it gives no key; when only lists are cut, the keys whose lists
  // are whole.
  bool Parse(const BYTE* data, std::size_t length);

 private:
  Entries m_a;
  // For each list of at least kLongList items, how many of its first items
  // are known to ascend. Documents are mostly added one after another, each
  // above all before it, and a key such as the empty one is carried by most
  // of them: its list then takes each new item without a search of the whole
  // list (a search each made building a base of a million documents
  // quadratic). Forgotten whenever the lists change otherwise.
  static constexpr std::size_t kLongList = 64;
  std::unordered_map<DWORD, std::size_t> m_ascending;
};

}  // namespace concorda
