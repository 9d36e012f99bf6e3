#include "biblion/text_search.h"

#include <cstring>

#include "biblion/srv_srv.h"

namespace biblion {

std::size_t FindOtherCase(std::string_view text, std::string_view pattern, std::size_t from) {
  if (from > text.size()) return std::string_view::npos;
  if (pattern.empty()) return from;
  const auto p0 = static_cast<unsigned char>(pattern[0]);
  for (std::size_t i = from; i + pattern.size() <= text.size(); ++i) {
    if (!MatchesOtherCase(static_cast<unsigned char>(text[i]), p0)) continue;
    std::size_t k = 1;
    while (k < pattern.size() &&
           MatchesOtherCase(static_cast<unsigned char>(text[i + k]), static_cast<unsigned char>(pattern[k])))
      ++k;
    if (k == pattern.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace biblion

// The terminating NUL of text is never matched, not even by a pattern byte
// whose partner is 0 (0xE0): the search stops at the end of the text.
const char* CSrvSrv::StrStrN(const char* text, const char* pattern) {
  if (!text || !pattern) return nullptr;
  std::string_view t(text);
  std::size_t at = biblion::FindOtherCase(t, pattern);
  return at == std::string_view::npos ? nullptr : text + at;
}

const char* CSrvSrv::StrChrU(const char* text, char c) {
  if (!text) return nullptr;
  for (const char* p = text; *p; ++p)
    if (biblion::MatchesOtherCase(static_cast<unsigned char>(*p), static_cast<unsigned char>(c))) return p;
  return nullptr;
}
