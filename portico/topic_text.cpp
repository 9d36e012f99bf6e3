// The document text of the Topic page: Fetch, link rewriting, the navigation
// line and the synchronisation name.
#include <algorithm>
#include <cstring>

#include "biblion/srv_srv.h"
#include "portico/extension.h"
#include "portico/text.h"
#include "portico/topic.h"

namespace portico {

namespace {

constexpr char kLineMark[] = "<!--LINE";
constexpr std::size_t kLineMarkLength = sizeof kLineMark - 1;
constexpr char kDefaultLine[] = "Search@ Home@";
constexpr char kSearchLine[] = "Home@ Notes=SrchNotes@ Book=SrchBk&Wyszukiwanie@";
constexpr char kHomeLine[] = "Search@ Notes=HmNotes@ Book=HmBk&Strona główna@";

const char* StaticPageName(std::int32_t index) {
  switch (index) {
    case kSearchPage: return "Search.htm";
    case kHomePage: return "Home.htm";
    case kNotesPage: return "Notes.htm";
    case kBookmarksPage: return "Bookmark.htm";
    default: return nullptr;
  }
}

// " LinkedOrz=<name>@" when the catalogue holds the rulings list of the act
// (the act's name up to its journal letter, then "O.HTM"); else empty.
std::string RulingsToken(const CSrvSrv& catalogue, const std::string& storedName) {
  std::string name = UpperCased(LastComponent(storedName));
  std::size_t p = JournalLetterPosition(name);
  if (p == npos || p < 2) return {};
  std::string rulings = name.substr(0, p) + "O.HTM";
  if (catalogue.GetItemIndex(rulings.c_str()) == CSrvSrv::kNoItem) return {};
  return " LinkedOrz=" + rulings.substr(0, rulings.size() - 4) + "@";
}

bool IsBlankAt(const char* d, std::size_t i) { return IsBlank(d[i]); }

// Rewrites one link tag: d[begin, close) is the tag behind its "<".
void RewriteTag(char* d, std::size_t begin, std::size_t close) {
  std::string_view tag(d + begin, close - begin);
  std::size_t href = FindNoCase(tag, "HREF");
  if (href == npos) return;
  std::size_t r = begin + href + 4;
  while (r < close && IsBlankAt(d, r)) ++r;
  if (r < close) ++r;  // the "="
  while (r < close && IsBlankAt(d, r)) ++r;
  const std::size_t refStart = r;
  while (r < close && !IsBlankAt(d, r)) ++r;
  const std::size_t refEnd = r;
  std::size_t main = FindNoCase(std::string_view(d + refStart, refEnd - refStart), "MAIN");
  if (main == npos) return;
  main += refStart;

  // The target attribute, outside the reference (a reference may hold the word itself).
  std::size_t target = FindNoCase(std::string_view(d + begin, refStart - begin), "TARGET");
  if (target != npos) {
    target += begin;
  } else {
    target = FindNoCase(std::string_view(d + refEnd, close - refEnd), "TARGET");
    if (target == npos) return;
    target += refEnd;
  }
  std::size_t end = target + 6;
  while (end < close && d[end] != '=' && !IsBlankAt(d, end)) ++end;
  std::size_t k = end;
  while (k < close && IsBlankAt(d, k)) ++k;
  if (k < close && d[k] == '=') {
    ++k;
    while (k < close && IsBlankAt(d, k)) ++k;
    while (k < close && !IsBlankAt(d, k)) ++k;
    end = k;
  }
  const bool before = target < refStart;
  if (before && end > refStart) return;  // the attribute runs into the reference: leave the tag alone
  std::memset(d + target, ' ', end - target);

  // "Topic" is one character longer than "MAIN": one blank makes room.
  if (before) {
    std::memmove(d + end - 1, d + end, main - end);
    std::memcpy(d + main - 1, "Topic", 5);
  } else {
    std::memmove(d + main + 5, d + main + 4, refEnd - (main + 4));
    std::memcpy(d + main, "Topic", 5);
  }
}

}  // namespace

std::size_t JournalLetterPosition(std::string_view upperName) {
  std::size_t p = upperName.rfind('D');
  if (p == npos || p < 2) p = upperName.rfind('M');
  return p;
}

void RewriteLinks(CPageText& text) {
  char* d = text.Data();
  std::string_view all = text.View();
  std::size_t close = 0;
  for (std::size_t i = all.find('<'); i != npos; i = all.find('<', i + 1)) {
    if (close <= i) {
      close = all.find('>', i + 1);
      if (close == npos) break;  // no later tag can be closed either
    }
    std::size_t j = i + 1;
    while (j < close && IsBlankAt(d, j)) ++j;
    if (j < close && (d[j] == 'A' || d[j] == 'a')) RewriteTag(d, i + 1, close);
  }
}

CPageText Fetch(const CPorticoExtension& extension, std::int32_t index, std::string* navigationLine) {
  if (index < 0) {
    if (const char* file = StaticPageName(index)) return ReadStaticPage(file);
    return CPageText::Copy(kNotFoundPage);
  }
  extension.WaitReady();
  CPageText text;
  std::string name;
  if (!ReadItem(extension.Main(), static_cast<DWORD>(index), 0, text, &name) || text.Empty()) {
    if (navigationLine) *navigationLine = std::string(kNotFoundPage);
    return CPageText::Copy(kNotFoundPage);
  }
  text.CutAtZero();
  if (navigationLine) *navigationLine = NavigationLineOf(extension.Main(), text.View(), name);
  RemoveComments(text);
  RewriteLinks(text);
  return text;
}

std::string NavigationLineOf(const CSrvSrv& catalogue, std::string_view storedText, const std::string& storedName) {
  std::size_t mark = storedText.find(kLineMark);
  if (mark == npos) return kDefaultLine;
  std::size_t start = mark + kLineMarkLength;
  std::size_t end = storedText.find("-->", start);
  if (end == npos) end = storedText.size();  // an unterminated comment runs to the end
  return std::string(storedText.substr(start, end - start)) + RulingsToken(catalogue, storedName);
}

std::string NavigationLine(const CPorticoExtension& extension, std::int32_t index) {
  if (index == kSearchPage) return kSearchLine;
  if (index == kHomePage) return kHomeLine;
  if (index < 0) return {};
  extension.WaitReady();
  CPageText text;
  std::string name;
  if (!ReadItem(extension.Main(), static_cast<DWORD>(index), 0, text, &name) || text.Empty())
    return std::string(kNotFoundPage);
  text.CutAtZero();
  return NavigationLineOf(extension.Main(), text.View(), name);
}

std::optional<std::string> NavigationValue(std::string_view line, std::string_view key) {
  std::size_t at = line.find(key);
  if (at == npos) return std::nullopt;
  std::size_t start = at + key.size();
  std::size_t end = line.find('@', start);
  if (end == npos) return std::string();
  return std::string(line.substr(start, end - start));
}

std::optional<std::string> SynchronisationName(std::string_view notes) {
  std::string name(notes);
  std::size_t p = JournalLetterPosition(name);
  if (p == npos || p <= 2) return std::nullopt;
  name.insert(3, p == 6 ? "00000" : "0000");
  p = JournalLetterPosition(name);
  if (p == npos) return std::nullopt;
  // A letter less than three characters from the end gets its zeros at the end.
  name.insert(std::min(p + 3, name.size()), name.size() - p == 6 ? "00000" : "0000");
  return name;
}

}  // namespace portico
