// The document text of the Topic page: Fetch, link rewriting, the navigation
// line and the synchronisation name.
#include <algorithm>
#include <cstring>
#include <vector>

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

// One attribute of a tag: its name and its value (quotes included; empty
// when the attribute has none), as positions in the text.
struct Attribute {
  std::size_t name, nameEnd, value, valueEnd;
};

// The attributes of the tag d[begin, close) behind its name. A name starts
// only behind white space and outside a quoted value, so neither a value
// ("retarget") nor a longer name ("DATA-TARGET") is taken for an attribute.
std::vector<Attribute> Attributes(const char* d, std::size_t begin, std::size_t close) {
  std::vector<Attribute> list;
  std::size_t i = begin;
  while (i < close && IsBlankAt(d, i)) ++i;
  while (i < close && !IsBlankAt(d, i)) ++i;  // the tag name
  while (i < close) {
    if (!IsBlankAt(d, i)) {  // text glued to a value starts nothing
      while (i < close && !IsBlankAt(d, i)) ++i;
      continue;
    }
    while (i < close && IsBlankAt(d, i)) ++i;
    if (i == close) break;
    Attribute a{i, i, 0, 0};
    while (a.nameEnd < close && !IsBlankAt(d, a.nameEnd) && d[a.nameEnd] != '=') ++a.nameEnd;
    a.value = a.valueEnd = a.nameEnd;
    std::size_t k = a.nameEnd;
    while (k < close && IsBlankAt(d, k)) ++k;
    if (k < close && d[k] == '=') {
      ++k;
      while (k < close && IsBlankAt(d, k)) ++k;
      a.value = k;
      if (k < close && (d[k] == '"' || d[k] == '\'')) {
        const char* quote = static_cast<const char*>(std::memchr(d + k + 1, d[k], close - k - 1));
        k = quote ? static_cast<std::size_t>(quote - d) + 1 : close;
      } else {
        while (k < close && !IsBlankAt(d, k)) ++k;
      }
      a.valueEnd = k;
    }
    i = std::max(a.valueEnd, a.nameEnd);
    list.push_back(a);
  }
  return list;
}

const Attribute* Named(const std::vector<Attribute>& list, const char* d, std::string_view name) {
  for (const Attribute& a : list)
    if (EqualsNoCase(std::string_view(d + a.name, a.nameEnd - a.name), name)) return &a;
  return nullptr;
}

// Rewrites one link tag: d[begin, close) is the tag behind its "<". A link
// whose reference holds "MAIN" and that has a target attribute loses the
// target and links to "Topic" instead; the text keeps its length.
void RewriteTag(char* d, std::size_t begin, std::size_t close) {
  const std::vector<Attribute> attributes = Attributes(d, begin, close);
  const Attribute* href = Named(attributes, d, "HREF");
  if (!href || href->value == href->valueEnd) return;
  const std::size_t refStart = href->value, refEnd = href->valueEnd;
  std::size_t main = FindNoCase(std::string_view(d + refStart, refEnd - refStart), "MAIN");
  if (main == npos) return;
  main += refStart;
  const Attribute* target = Named(attributes, d, "TARGET");
  if (!target) return;
  const std::size_t from = target->name, end = std::max(target->nameEnd, target->valueEnd);
  const bool before = from < refStart;
  // "Topic" is one character longer than "MAIN": the blank behind the
  // reference, or the last blank of the removed target, makes room.
  if (!before && (refEnd >= close || !IsBlankAt(d, refEnd))) return;
  std::memset(d + from, ' ', end - from);
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
