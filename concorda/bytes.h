// Little-endian words and variable-length integers in the stored forms of
// the index (key table, word table, index files) and of the positions file
// beside a base, read with explicit bounds.
//
// A variable-length integer takes 7 bits a byte, least significant first;
// a byte with its high bit set says another byte follows. A 32-bit value
// takes at most 5 bytes.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

inline void SetDword(BYTE* at, DWORD v) {
  at[0] = static_cast<BYTE>(v);
  at[1] = static_cast<BYTE>(v >> 8);
  at[2] = static_cast<BYTE>(v >> 16);
  at[3] = static_cast<BYTE>(v >> 24);
}

inline void PutDword(std::vector<BYTE>& out, DWORD v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<BYTE>(v >> shift));
}

inline void PutQword(std::vector<BYTE>& out, ULONGLONG v) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<BYTE>(v >> shift));
}

inline void PutVarint(std::vector<BYTE>& out, DWORD v) {
  while (v >= 0x80) {
    out.push_back(static_cast<BYTE>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<BYTE>(v));
}

// Reads a variable-length integer at p (advanced past it); false when it
// runs past `end` or is longer than a 32-bit value.
inline bool GetVarint(const BYTE*& p, const BYTE* end, DWORD& v) {
  // Most numbers of the positions (gaps between places and documents) fit
  // in one byte.
  if (p < end && *p < 0x80) {
    v = *p++;
    return true;
  }
  DWORD value = 0;
  for (int shift = 0; shift < 35 && p < end; shift += 7) {
    const BYTE b = *p++;
    if (shift == 28 && b > 0x0F) return false;
    value |= static_cast<DWORD>(b & 0x7F) << shift;
    if (!(b & 0x80)) {
      v = value;
      return true;
    }
  }
  return false;
}

inline DWORD GetDword(const BYTE* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
         static_cast<DWORD>(at[3]) << 24;
}

inline ULONGLONG GetQword(const BYTE* at) {
  return static_cast<ULONGLONG>(GetDword(at)) | static_cast<ULONGLONG>(GetDword(at + 4)) << 32;
}

// A read-only view of a stored file; every read checks the length first.
class CByteReader {
 public:
  CByteReader(const BYTE* data, std::size_t length) : m_p(data), m_n(length) {}
  std::size_t Length() const { return m_n; }
  const BYTE* Data() const { return m_p; }
  // True when [offset, offset + count) lies inside the data (no overflow).
  bool Fits(ULONGLONG offset, ULONGLONG count) const { return offset <= m_n && count <= m_n - offset; }
  // The word at offset, or false when it does not fit.
  bool Dword(ULONGLONG offset, DWORD& v) const {
    if (!Fits(offset, 4)) return false;
    v = GetDword(m_p + offset);
    return true;
  }

 private:
  const BYTE* m_p;
  std::size_t m_n;
};

}  // namespace concorda
