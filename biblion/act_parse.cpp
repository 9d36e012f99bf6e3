#include "biblion/act_parse.h"

#include <cstring>
#include <string>

#include "biblion/text_search.h"
#include "platform/cp1250.h"

namespace biblion {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsDigit(char c) { return cp1250::IsDigit(static_cast<unsigned char>(c)); }

// The value of a run of digits starting at i (0 for none); i ends behind it.
// Values wrap at 32 bits and the reference keeps the bits its field holds.
DWORD ReadDigits(std::string_view s, std::size_t& i) {
  DWORD v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) v = v * 10 + static_cast<DWORD>(s[i] - '0');
  return v;
}

// Letter, two year digits and a position at i: false when the year digits
// are missing. i ends behind the position's digits.
bool ReadReference(std::string_view s, std::size_t& i, _RNP& r) {
  if (i + 2 >= s.size() || !IsDigit(s[i + 1]) || !IsDigit(s[i + 2])) return false;
  r.SetKind(KindOfLetter(static_cast<unsigned char>(s[i])));
  r.SetYear(static_cast<DWORD>((s[i + 1] - '0') * 10 + (s[i + 2] - '0')));
  i += 3;
  r.SetPosition(ReadDigits(s, i));
  return true;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, const char* word) {
  std::size_t n = std::strlen(word);
  if (at + n > s.size()) return false;
  for (std::size_t k = 0; k < n; ++k)
    if (cp1250::ToUpper(static_cast<unsigned char>(s[at + k])) != static_cast<unsigned char>(word[k])) return false;
  return true;
}

struct CitedNumber {
  DWORD number = 0;
  DWORD prefix = 0;
  std::size_t textStart = npos;  // where the number text begins; npos when it has none
};

// The citation whose last letter (U of "Dz.U.", P of "M.P.") is at `letter`:
// the number text runs from behind the second '.' at or after the letter to
// the next '.' or the end of the title.
CitedNumber ReadCitedNumber(std::string_view title, std::size_t letter) {
  CitedNumber n;
  std::size_t a = title.find('.', letter);
  if (a == npos) return n;
  std::size_t b = title.find('.', a + 1);
  if (b == npos) return n;
  n.textStart = b + 1;
  std::size_t c = title.find('.', n.textStart);
  std::string_view text = title.substr(n.textStart, (c == npos ? title.size() : c) - n.textStart);
  std::size_t i = 0;
  while (i < text.size() && !IsDigit(text[i])) ++i;
  n.prefix = i > 0 ? 1 : 0;
  n.number = ReadDigits(text, i);
  return n;
}

// The last letter of the first citation at or after `from`: "Dz.U." when
// present, else "M.P." (either, the earlier, when `earlier` is set); npos when none.
std::size_t FindCitation(std::string_view title, std::size_t from, bool earlier) {
  std::size_t dz = FindOtherCase(title, "Dz.U.", from);
  if (dz != npos && !earlier) return dz + 3;
  std::size_t mp = FindOtherCase(title, "M.P.", from);
  if (dz != npos && (mp == npos || dz < mp)) return dz + 3;
  return mp == npos ? npos : mp + 2;
}

}  // namespace

bool ParseItemName(std::string_view name, _RNP& first, _RNP& second) {
  std::size_t slash = name.rfind('\\');
  std::string part(slash == npos ? name : name.substr(slash + 1));
  cp1250::UpperCase(part.data(), part.size());
  std::string_view stem(part);
  std::size_t dot = stem.rfind('.');
  if (dot != npos) {
    std::string_view ext = stem.substr(dot + 1);
    if (ext == "JPG" || ext == "GIF") return false;
    stem = stem.substr(0, dot);
  }
  first = second = _RNP();
  std::size_t i = 0;
  if (!ReadReference(stem, i, first)) return false;
  if (!ReadReference(stem, i, second)) {
    // A second part of one letter gives its kind alone: "D97483O" is the list
    // of the rulings on act D97483, which kind O keeps apart from its versions.
    DWORD kind = i + 1 == stem.size() ? KindOfLetter(static_cast<unsigned char>(stem[i])) : DWORD(_RNP::kOther);
    second = _RNP::Make(kind, 0, 0, 0);
  }
  return true;
}

std::string_view TerminatedText(const BYTE* data, std::size_t length) {
  if (!data || length == 0) return {};
  std::string_view text(reinterpret_cast<const char*>(data), length - 1);
  std::size_t nul = text.find('\0');
  return nul == npos ? text : text.substr(0, nul);
}

std::string_view ExtractTitle(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && cp1250::IsSpace(static_cast<unsigned char>(text[i]))) ++i;
  if (!StartsWithNoCase(text, i, "<HTM")) return {};
  // The first TITLE tag in any letter case: a lower-case title is found even
  // when an upper-case tag such as <TABLE> follows it.
  std::size_t tag = i;
  for (;; ++tag) {
    tag = text.find('<', tag);
    if (tag == npos) return {};
    if (StartsWithNoCase(text, tag + 1, "TIT")) break;
  }
  std::size_t open = text.find('>', tag);
  if (open == npos) return {};
  std::size_t close = text.find("</", open + 1);
  if (close == npos) return {};
  return text.substr(open + 1, close - open - 1);
}

void ApplyCitations(std::string_view title, _RNP& first, _RNP& second) {
  std::size_t letter = FindCitation(title, 0, true);
  if (letter == npos) return;
  CitedNumber act = ReadCitedNumber(title, letter);
  first.SetNumber(act.number);
  first.SetPrefix(act.prefix);
  const bool amendment =
      second.Year() != 0 && (second.Year() != first.Year() || second.Position() != first.Position());
  if (!amendment) {
    second.SetNumber(first.Number());
    second.SetPrefix(first.Prefix());
    return;
  }
  std::size_t further = FindCitation(title, act.textStart != npos ? act.textStart : letter + 1, false);
  CitedNumber cited;
  if (further != npos)
    cited = ReadCitedNumber(title, further);
  else
    cited.number = 1;
  second.SetNumber(cited.number);
  second.SetPrefix(cited.prefix);
}

bool MakeActEntry(std::string_view name, std::string_view text, DWORD combinedIndex, ActEntry& entry) {
  _RNP first, second;
  if (!ParseItemName(name, first, second)) return false;
  ApplyCitations(ExtractTitle(text), first, second);
  entry = ActEntry{first.dw, second.dw, combinedIndex};
  return true;
}

}  // namespace biblion
