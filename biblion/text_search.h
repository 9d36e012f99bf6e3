// The catalogue's case-insensitive byte search, shared by `CSrvSrv::StrStrN`,
// `CSrvSrv::StrChrU` (which the pages call) and the reading of citations in
// document titles. A byte matches a pattern byte when both are the same
// letter in either case by the windows-1250 case table, as the pages fold
// text; every other byte matches only itself ("Dz.U." never finds "DzNUN").
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/cp1250.h"

namespace biblion {

inline bool MatchesOtherCase(unsigned char textByte, unsigned char patternByte) {
  return textByte == patternByte || cp1250::ToUpper(textByte) == cp1250::ToUpper(patternByte);
}

// Position of the first occurrence of pattern in text at or after `from`,
// or npos. Never looks outside text; an empty pattern is found at `from`.
std::size_t FindOtherCase(std::string_view text, std::string_view pattern, std::size_t from = 0);

}  // namespace biblion
