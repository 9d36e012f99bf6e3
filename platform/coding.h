// Byte encoding of every stored format: fixed-width little-endian words and
// the GUID as the files hold them, and variable-length integers for the
// files beside a base. Formats call these and never shift bytes by hand, so
// the byte order of the system is decided here once.
//
//   BYTE h[40];
//   EncodeLe32(h, slotCount);               // offset 0
//   EncodeGuid(h + 8, guid);                // offsets 8 to 23
//   DWORD n = DecodeLe32(h);
//
// Varints are unsigned LEB128: seven bits a byte, the low group first, the
// high bit set on every byte but the last. A 32-bit value takes at most five
// bytes, a 64-bit one at most ten. Decoders take the end of the buffer and
// refuse a value that runs past it or past its width.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/windows_types.h"

constexpr std::size_t kMaxVarint32Bytes = 5;
constexpr std::size_t kMaxVarint64Bytes = 10;
constexpr std::size_t kGuidBytes = 16;

inline void EncodeLe16(BYTE* p, WORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}

inline WORD DecodeLe16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }

inline void EncodeLe32(BYTE* p, DWORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}

inline DWORD DecodeLe32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

inline void EncodeLe64(BYTE* p, ULONGLONG v) {
  EncodeLe32(p, static_cast<DWORD>(v));
  EncodeLe32(p + 4, static_cast<DWORD>(v >> 32));
}

inline ULONGLONG DecodeLe64(const BYTE* p) {
  return static_cast<ULONGLONG>(DecodeLe32(p)) | static_cast<ULONGLONG>(DecodeLe32(p + 4)) << 32;
}

inline void AppendLe32(std::vector<BYTE>& out, DWORD v) {
  BYTE b[4];
  EncodeLe32(b, v);
  out.insert(out.end(), b, b + 4);
}

// The GUID in its stored layout: Data1, Data2, Data3 little-endian, then
// the eight bytes of Data4 as they are.
inline void EncodeGuid(BYTE* p, const GUID& g) {
  EncodeLe32(p, g.Data1);
  EncodeLe16(p + 4, g.Data2);
  EncodeLe16(p + 6, g.Data3);
  std::memcpy(p + 8, g.Data4, 8);
}

inline GUID DecodeGuid(const BYTE* p) {
  GUID g;
  g.Data1 = DecodeLe32(p);
  g.Data2 = DecodeLe16(p + 4);
  g.Data3 = DecodeLe16(p + 6);
  std::memcpy(g.Data4, p + 8, 8);
  return g;
}

// Writes v at p (room for kMaxVarint64Bytes) and returns the bytes written.
inline std::size_t EncodeVarint64(BYTE* p, ULONGLONG v) {
  std::size_t n = 0;
  while (v >= 0x80) {
    p[n++] = static_cast<BYTE>(v | 0x80);
    v >>= 7;
  }
  p[n++] = static_cast<BYTE>(v);
  return n;
}

inline void AppendVarint64(std::vector<BYTE>& out, ULONGLONG v) {
  BYTE b[kMaxVarint64Bytes];
  out.insert(out.end(), b, b + EncodeVarint64(b, v));
}

inline void AppendVarint32(std::vector<BYTE>& out, DWORD v) { AppendVarint64(out, v); }

// Reads a varint from [p, end) into *v and returns the byte behind it; null
// when it is cut off by end or does not fit in `bits` bits (a damaged file),
// *v untouched then.
inline const BYTE* DecodeVarint(const BYTE* p, const BYTE* end, ULONGLONG* v, unsigned bits) {
  ULONGLONG value = 0;
  for (unsigned shift = 0; p < end; shift += 7) {
    ULONGLONG group = *p & 0x7F;
    if (shift >= bits || (bits - shift < 7 && group >> (bits - shift) != 0)) return nullptr;
    value |= group << shift;
    if ((*p++ & 0x80) == 0) {
      *v = value;
      return p;
    }
  }
  return nullptr;
}

inline const BYTE* DecodeVarint64(const BYTE* p, const BYTE* end, ULONGLONG* v) { return DecodeVarint(p, end, v, 64); }

inline const BYTE* DecodeVarint32(const BYTE* p, const BYTE* end, DWORD* v) {
  ULONGLONG wide;
  const BYTE* next = DecodeVarint(p, end, &wide, 32);
  if (next) *v = static_cast<DWORD>(wide);
  return next;
}
