#include "portico/utf8.h"

#include <array>
#include <cstdint>

namespace portico {

namespace {

// Code points of the bytes 0x80-0xFF; 0xFFFD where windows-1250 has none.
constexpr std::uint16_t kHigh[128] = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164,
    0x017D, 0x0179, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0161, 0x203A,
    0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9,
    0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139,
    0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1,
    0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD,
    0x0163, 0x02D9,
};

// The UTF-8 bytes of each byte 0x80-0xFF, made once: converting a page
// then costs one table look-up per byte.
struct Encoded {
  char bytes[3];
  unsigned char size;
};
const std::array<Encoded, 128>& HighTable() {
  static const std::array<Encoded, 128> table = [] {
    std::array<Encoded, 128> t{};
    for (int i = 0; i < 128; ++i) {
      unsigned cp = kHigh[i];
      Encoded& e = t[i];
      if (cp < 0x800) {
        e.bytes[0] = char(0xC0 | (cp >> 6));
        e.bytes[1] = char(0x80 | (cp & 0x3F));
        e.size = 2;
      } else {
        e.bytes[0] = char(0xE0 | (cp >> 12));
        e.bytes[1] = char(0x80 | ((cp >> 6) & 0x3F));
        e.bytes[2] = char(0x80 | (cp & 0x3F));
        e.size = 3;
      }
    }
    return t;
  }();
  return table;
}

}  // namespace

unsigned char Cp1250Byte(unsigned long cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  if (cp == 0xFFFD) return 0;
  for (int i = 0; i < 128; ++i)
    if (kHigh[i] == cp) return static_cast<unsigned char>(0x80 + i);
  return 0;
}

void AppendUtf8(std::string& out, std::string_view text) {
  const auto& table = HighTable();
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) continue;
    out.append(text.data() + start, i - start);
    const Encoded& e = table[c - 0x80];
    out.append(e.bytes, e.size);
    start = i + 1;
  }
  out.append(text.data() + start, text.size() - start);
}

std::string Utf8FromCp1250(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  AppendUtf8(out, text);
  return out;
}

std::optional<std::string> Cp1250FromUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += char(c);
      ++i;
      continue;
    }
    int extra;
    std::uint32_t cp, least;
    if ((c & 0xE0) == 0xC0) extra = 1, cp = c & 0x1F, least = 0x80;
    else if ((c & 0xF0) == 0xE0) extra = 2, cp = c & 0x0F, least = 0x800;
    else if ((c & 0xF8) == 0xF0) extra = 3, cp = c & 0x07, least = 0x10000;
    else return std::nullopt;
    if (i + extra >= text.size()) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    unsigned char b = Cp1250Byte(cp);
    if (!b) return std::nullopt;
    out += char(b);
    i += extra + 1;
  }
  return out;
}

}  // namespace portico
