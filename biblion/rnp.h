// `_RNP`, the reference of an act by journal, year, number and position, and
// the 12-byte entry of the catalogue's table of acts. The catalogue, the
// contents tree, the search page and the base tool build and read references
// through these helpers.
#pragma once

#include <compare>

#include "platform/windows_types.h"

// One 32-bit reference; compared as an unsigned number it orders by kind,
// year, number, prefix flag and position:
//
//   bits 28-31  kind: 0 "Dz.U." (D), 1 "M.P." (M), 2 rulings (O), 15 anything else
//   bits 21-27  year, two digits of the citation (0-127)
//   bits 12-20  journal number (0-511)
//   bit  11     prefix flag: the cited number was preceded by non-digits ("Nr 78")
//   bits  0-10  position (0-2047)
//
// Setting a field keeps only the bits that fit it, as a bit field does: the
// search page relies on that when it packs number 2000 as 464.
struct _RNP {
  enum Kind : DWORD { kDzU = 0, kMP = 1, kRuling = 2, kOther = 15 };

  DWORD dw = 0;

  constexpr _RNP() = default;
  constexpr explicit _RNP(DWORD value) : dw(value) {}
  static constexpr _RNP Make(DWORD kind, DWORD year, DWORD number, DWORD position, DWORD prefix = 0) {
    _RNP r;
    r.SetKind(kind);
    r.SetYear(year);
    r.SetNumber(number);
    r.SetPrefix(prefix);
    r.SetPosition(position);
    return r;
  }

  constexpr DWORD Kind() const { return dw >> 28; }
  constexpr DWORD Year() const { return (dw >> 21) & 0x7F; }
  constexpr DWORD Number() const { return (dw >> 12) & 0x1FF; }
  constexpr DWORD Prefix() const { return (dw >> 11) & 1; }
  constexpr DWORD Position() const { return dw & 0x7FF; }

  constexpr void SetKind(DWORD v) { Put(28, 0xF, v); }
  constexpr void SetYear(DWORD v) { Put(21, 0x7F, v); }
  constexpr void SetNumber(DWORD v) { Put(12, 0x1FF, v); }
  constexpr void SetPrefix(DWORD v) { Put(11, 1, v); }
  constexpr void SetPosition(DWORD v) { Put(0, 0x7FF, v); }

  static constexpr DWORD kPrefixBit = 1u << 11;

  friend constexpr bool operator==(_RNP a, _RNP b) { return a.dw == b.dw; }
  friend constexpr auto operator<=>(_RNP a, _RNP b) { return a.dw <=> b.dw; }

 private:
  constexpr void Put(int shift, DWORD mask, DWORD v) { dw = (dw & ~(mask << shift)) | ((v & mask) << shift); }
};
static_assert(sizeof(_RNP) == 4, "_RNP is one 32-bit word in the cache file");

namespace biblion {

// The kind of a journal letter: D, M, O (either case); 15 for anything else.
constexpr DWORD KindOfLetter(unsigned char c) {
  switch (c) {
    case 'D': case 'd': return _RNP::kDzU;
    case 'M': case 'm': return _RNP::kMP;
    case 'O': case 'o': return _RNP::kRuling;
    default: return _RNP::kOther;
  }
}

// A combined item index is base number << 16 | slot: a base can show the
// catalogue this many slots; a slot beyond them would alias another item.
constexpr DWORD kSlotsPerBase = 0x10000;

// One entry of the table of acts, 12 bytes as in the cache file.
struct ActEntry {
  DWORD dwFirst;   // _RNP of the act the document belongs to
  DWORD dwSecond;  // _RNP of the act the document refers to; kind 15 when none
  DWORD dwIndex;   // combined item index of the document
};
static_assert(sizeof(ActEntry) == 12, "a table entry is 12 bytes in the cache file");

// Table order: first reference ascending, then second ascending, then the
// combined index descending (of two copies, the one in the later base first).
inline bool ActEntryLess(const ActEntry& a, const ActEntry& b) {
  if (a.dwFirst != b.dwFirst) return a.dwFirst < b.dwFirst;
  if (a.dwSecond != b.dwSecond) return a.dwSecond < b.dwSecond;
  return a.dwIndex > b.dwIndex;
}

}  // namespace biblion
