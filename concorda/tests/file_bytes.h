// Tests that damage files beside a base or inside it: whole files as bytes,
// little-endian words, and the section table of a positions file (header of
// 64 bytes, then entries of 24: id, CRC, offset, length).
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "concorda/positions_format.h"
#include "platform/windows_types.h"

inline std::vector<BYTE> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<BYTE>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline DWORD Dword(const std::vector<BYTE>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<DWORD>(b[at + 3]) << 24;
}

// The place in the section table of the section with `id`; 0 when there is none.
inline std::size_t SectionEntry(const std::vector<BYTE>& file, DWORD id) {
  for (DWORD s = 0; s < Dword(file, 12); ++s)
    if (Dword(file, 64 + 24 * s) == id) return 64 + 24 * s;
  return 0;
}

// The header's checksum written again over bytes 0-59 and the section table.
inline void Rechecksum(std::vector<BYTE>& file) {
  const std::size_t tableEnd = 64 + 24 * Dword(file, 12);
  DWORD crc = concorda::Crc32(file.data(), 60);
  crc = concorda::Crc32(file.data() + 64, tableEnd - 64, crc);
  for (int k = 0; k < 4; ++k) file[60 + k] = static_cast<BYTE>(crc >> (8 * k));
}
