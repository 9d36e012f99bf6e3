// The change log of the document index: shifts and removals of item indices
// reported by the container's hooks, kept until the topic lists are written.
// Stored topic lists are as old as the last write, so the whole log applies to
// them; a list held in memory remembers how much of the log it has seen
// (WordIndex::m_dwLogPos), so topics added after a record are never shifted or
// dropped by it. Used by CDocServer only; not locked (callers lock).
#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

enum ChangeKind : BYTE {
  kChangeRemoved = 0,   // the item at index was removed; its slot stays empty
  kChangeDeleted = 1,   // the item at index was deleted; items above moved down by one
  kChangeInserted = 2,  // an item was inserted at index; items at or above moved up by one
};

struct ChangeRecord {
  BYTE kind;
  DWORD index;
};

// Applies one record to item index x; false when the item is gone.
bool ApplyChange(const ChangeRecord& r, DWORD& x);

// The effect of a run of records composed into one monotone partial map of
// item indices, so that applying a long log costs one search per topic.
class CChangeMap {
 public:
  void Build(const ChangeRecord* records, std::size_t count);
  // Maps x; false when the item is gone.
  bool Map(DWORD& x) const;

 private:
  struct Piece {
    LONGLONG start;  // inputs [start, end) map to input + delta
    LONGLONG end;
    LONGLONG delta;
  };
  std::vector<Piece> m_a;
};

class CChangeLog {
 public:
  void Append(BYTE kind, DWORD index);
  std::size_t Size() const { return m_a.size(); }
  bool Empty() const { return m_a.empty(); }
  const std::vector<ChangeRecord>& Records() const { return m_a; }
  void Clear();
  // Drops the records from position `size` on.
  void Truncate(std::size_t size);
  // Applies the records from position `from` on to the topics in place
  // (topics whose item is gone are taken out; the order is kept). True when
  // anything changed.
  bool Apply(std::vector<DWORD>& topics, std::size_t from);

 private:
  std::vector<ChangeRecord> m_a;
  std::map<std::size_t, CChangeMap> m_maps;  // by start position, for the current log
};

}  // namespace concorda
