#include "portico/text.h"

#include <climits>
#include <cstring>

#include "platform/cp1250.h"

namespace portico {

namespace {

unsigned char Up(char c) { return cp1250::ToUpper(static_cast<unsigned char>(c)); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::size_t Find(std::string_view text, std::string_view pattern, std::size_t from) {
  if (from > text.size()) return npos;
  return text.find(pattern, from);
}

std::size_t FindNoCase(std::string_view text, std::string_view pattern, std::size_t from) {
  if (from > text.size() || pattern.size() > text.size() - from) return npos;
  if (pattern.empty()) return from;
  const unsigned char first = Up(pattern[0]);
  const std::size_t last = text.size() - pattern.size();
  for (std::size_t i = from; i <= last; ++i) {
    if (Up(text[i]) != first) continue;
    std::size_t k = 1;
    while (k < pattern.size() && Up(text[i + k]) == Up(pattern[k])) ++k;
    if (k == pattern.size()) return i;
  }
  return npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view pattern) {
  return text.size() >= pattern.size() && EqualsNoCase(text.substr(0, pattern.size()), pattern);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Up(a[i]) != Up(b[i])) return false;
  return true;
}

bool IsBlank(char c) { return cp1250::IsSpace(static_cast<unsigned char>(c)); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void UpperCase(std::string& text) { cp1250::UpperCase(text.data(), text.size()); }

std::string UpperCased(std::string_view text) {
  std::string s(text);
  UpperCase(s);
  return s;
}

std::int32_t DecimalValue(std::string_view text, std::size_t* digitsEnd) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t value = 0;
  std::size_t start = i;
  for (; i < text.size() && IsDigit(text[i]); ++i)
    if (value <= std::int64_t(INT_MAX) + 1) value = value * 10 + (text[i] - '0');
  if (digitsEnd) *digitsEnd = i > start ? i : 0;
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<std::int32_t>(value);
}

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PercentDecode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += (c == '+' && plusIsBlank) ? ' ' : c;
  }
  return out;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || (c != 0 && std::strchr("\"#%&<>", c))) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string ScriptStringEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\'' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '<' || c == '>' || b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string_view> FieldValue(std::string_view arguments, std::string_view name) {
  std::size_t at = arguments.find(name);
  if (at == npos) return std::nullopt;
  std::string_view value = arguments.substr(at + name.size());
  return value.substr(0, value.find('&'));
}

}  // namespace portico
