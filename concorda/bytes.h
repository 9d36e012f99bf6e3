// Little-endian 32-bit words in the stored forms of the index (key table,
// word table and index files), read with explicit bounds.
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

inline DWORD GetDword(const BYTE* at) {
  return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
         static_cast<DWORD>(at[3]) << 24;
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
