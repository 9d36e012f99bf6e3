// The catalogue's case-insensitive byte search, shared by `CSrvSrv::StrStrN`,
// `CSrvSrv::StrChrU` (which the pages call) and the reading of citations in
// document titles. A byte matches a pattern byte when it equals it or its
// other-case partner (below); the partner rule is the catalogue's own and is
// not symmetric outside ASCII letters.
#pragma once

#include <cstddef>
#include <string_view>

namespace biblion {

// The other-case partner of a byte taken as a signed 8-bit value: c + 32 for
// -128..90 (0x80-0xFF, 0x00-0x5A), c - 32 for 91..122 (0x5B-0x7A), the byte
// itself for 123..127; modulo 256. It pairs ASCII letters and maps the
// windows-1250 capitals 0xC0-0xDE to 0xE0-0xFE, but not the reverse.
constexpr unsigned char OtherCase(unsigned char c) {
  if (c >= 0x5B && c <= 0x7A) return static_cast<unsigned char>(c - 32);
  if (c >= 0x7B && c <= 0x7F) return c;
  return static_cast<unsigned char>(c + 32);
}

constexpr bool MatchesOtherCase(unsigned char textByte, unsigned char patternByte) {
  return textByte == patternByte || textByte == OtherCase(patternByte);
}

// Position of the first occurrence of pattern in text at or after `from`,
// or npos. Never looks outside text; an empty pattern is found at `from`.
std::size_t FindOtherCase(std::string_view text, std::string_view pattern, std::size_t from = 0);

}  // namespace biblion
