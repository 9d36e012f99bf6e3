// The table of acts of a catalogue: entries sorted by first reference, second
// reference and (descending) combined index, and the queries the contents
// tree, the tree synchronisation and the search page ask of it. `CSrvSrv`
// owns one and forwards its year/number/position operations here.
//
// The table is filled once (Assign) and only read afterwards: every query is
// const and keeps its state on the stack, so any number of request threads
// may query one table at once without a lock. Every list operation appends
// to the caller's array except FindFromRNP, which replaces its contents.
#pragma once

#include <cstddef>
#include <vector>

#include "biblion/rnp.h"

namespace biblion {

class CActTable {
 public:
  // Takes the entries and sorts them into table order.
  void Assign(std::vector<ActEntry> entries);
  // Takes entries already in table order (a loaded cache; see IsInTableOrder).
  void AssignSorted(std::vector<ActEntry> entries);
  void Clear();

  const std::vector<ActEntry>& Entries() const { return m_entries; }
  std::size_t Size() const { return m_entries.size(); }

  // True when every entry is strictly after its predecessor in table order.
  static bool IsInTableOrder(const std::vector<ActEntry>& entries);

  // The distinct years of r's kind, ascending.
  void GetYears(_RNP r, std::vector<DWORD>& out) const;
  // The distinct numbers of r's kind and year, ascending.
  void GetNumbers(_RNP r, std::vector<DWORD>& out) const;
  // The distinct positions of r's kind, year and number, ascending (entries
  // that hold only rulings at the start of the number are not counted).
  void GetPositions(_RNP r, std::vector<DWORD>& out) const;
  // The act at r's kind, year and position (and number, unless it is 0):
  // appends the distinct second references of its documents up to the first
  // ruling, and returns r completed with the act's number and prefix flag.
  // An act not in the table: r unchanged and nothing appended.
  _RNP GetSubPositions(_RNP r, std::vector<DWORD>& out) const;
  // Replaces out with the combined indices of the documents whose first
  // reference has kind, year, number and position each within the bounds
  // of from and to (the prefix flag is not compared), one per group of the
  // mode: 1 one per act, 2 one per second reference, 0 the latest version of
  // each act plus its other documents (see the definition). FALSE when
  // nothing lies within the bounds or the mode is not 0, 1 or 2.
  bool FindFromRNP(_RNP from, _RNP to, int mode, std::vector<DWORD>& out) const;
  // Combined index of the entry with exactly these references (the highest
  // one when several documents share them), or 0xFFFFFFFF.
  DWORD GetIndex(_RNP first, _RNP second) const;

 private:
  // The entries whose first reference lies in [lo, hi] as unsigned numbers.
  std::pair<const ActEntry*, const ActEntry*> FirstRange(DWORD lo, DWORD hi) const;

  std::vector<ActEntry> m_entries;
};

}  // namespace biblion
