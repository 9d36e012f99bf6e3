// The one place where text leaves windows-1250: the reader pages (the page
// without frames, the comparison of versions, maps and feeds) and the API are
// UTF-8, and everything they show is made in windows-1250 like the rest of
// the system, then converted here as it is written. Requests to those pages
// arrive in UTF-8 and come back to windows-1250 here too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace portico {

// windows-1250 bytes as UTF-8. The five bytes windows-1250 leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98) become U+FFFD.
std::string Utf8FromCp1250(std::string_view text);
void AppendUtf8(std::string& out, std::string_view text);

// UTF-8 as windows-1250; nothing when the text is not well-formed UTF-8
// (overlong forms, surrogates and values beyond U+10FFFF included) or holds
// a character windows-1250 has not.
std::optional<std::string> Cp1250FromUtf8(std::string_view text);

// The windows-1250 byte of a code point, 0 when it has none (and for 0).
unsigned char Cp1250Byte(unsigned long codePoint);

}  // namespace portico
