// Small text operations the pages share: bounded searches over byte ranges
// (documents may hold any byte, so nothing here stops at a zero byte unless it
// says so), decimal conversion that never overflows, and the escaping and
// decoding of text that comes with a request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace portico {

constexpr std::size_t npos = std::string_view::npos;

// Position of `pattern` in text[from, end), or npos. Exact bytes.
std::size_t Find(std::string_view text, std::string_view pattern, std::size_t from = 0);
// The same, ignoring letter case (windows-1250 upper-case mapping).
std::size_t FindNoCase(std::string_view text, std::string_view pattern, std::size_t from = 0);
// Whether text begins with pattern, ignoring case.
bool StartsWithNoCase(std::string_view text, std::string_view pattern);
bool EqualsNoCase(std::string_view a, std::string_view b);
// White space of the windows-1250 tables (blank, tab, CR, LF, VT, FF).
bool IsBlank(char c);
bool IsDigit(char c);
// Upper-cases in place with the windows-1250 mapping.
void UpperCase(std::string& text);
std::string UpperCased(std::string_view text);

// The leading signed decimal integer of text: optional blanks, an optional
// sign, digits; 0 when there are no digits. Values beyond the 32-bit range
// saturate at its ends instead of wrapping, so an absurd number can never
// turn into a valid item index. *digitsEnd (when given) receives the
// position behind the last digit (0 when there is none).
std::int32_t DecimalValue(std::string_view text, std::size_t* digitsEnd = nullptr);
// Decimal text of a value.
std::string Decimal(std::int64_t value);

// Text made safe for HTML content and attribute values: & < > " ' escaped.
std::string HtmlEscape(std::string_view text);
// Decodes "%XX" (two hexadecimal digits) to its byte, and "+" to a blank
// when plusIsBlank. A "%" without two hexadecimal digits behind it stays as
// it is: nothing behind the end of the text is ever read.
std::string PercentDecode(std::string_view text, bool plusIsBlank);
// Text made safe inside a quoted link address that PercentDecode reads back:
// control bytes and " # % & < > become "%XX"; blanks and letters (also the
// windows-1250 ones) stay as they are, as the browser encodes them itself.
std::string PercentEncode(std::string_view text);
// Text made safe inside a double- or single-quoted script string within a
// script element: a backslash before every double quote, apostrophe and
// backslash, and "<", ">" and control bytes as "\xHH", so that neither a
// line end nor "</script>" can end the string or the element. The script
// still sees the same characters.
std::string ScriptStringEscape(std::string_view text);

// The value of an argument field such as "Pattern=": the text behind the
// first occurrence of `name` (exact bytes) up to the next "&" or the end.
// Nothing when the name does not occur.
std::optional<std::string_view> FieldValue(std::string_view arguments, std::string_view name);

}  // namespace portico
