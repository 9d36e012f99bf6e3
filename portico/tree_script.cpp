#include "portico/tree_script.h"

#include <cstdint>
#include <vector>

#include "portico/act_tree.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kLoading[] = "Ładuje...";

// A tag name at `at` (behind "<" and its blanks) that is exactly `name`.
bool IsTag(std::string_view page, std::size_t at, std::string_view name) {
  if (!StartsWithNoCase(page.substr(at), name)) return false;
  std::size_t behind = at + name.size();
  return behind == page.size() || IsBlank(page[behind]) || page[behind] == '>' || page[behind] == '/';
}

enum class ListTag { kOpen, kClose, kEntry };
struct Structure {
  std::size_t lt;    // the "<"
  std::size_t name;  // the tag name behind it
  ListTag tag;
};

// The list tags of the page, in order.
std::vector<Structure> ListTags(std::string_view page) {
  std::vector<Structure> tags;
  for (std::size_t lt = page.find('<'); lt != npos; lt = page.find('<', lt + 1)) {
    std::size_t name = lt + 1;
    while (name < page.size() && IsBlank(page[name])) ++name;
    if (IsTag(page, name, "UL")) tags.push_back({lt, name, ListTag::kOpen});
    else if (IsTag(page, name, "/UL")) tags.push_back({lt, name, ListTag::kClose});
    else if (IsTag(page, name, "LI")) tags.push_back({lt, name, ListTag::kEntry});
  }
  return tags;
}

// The tree line of the entry page[begin, end) (behind its "LI"), or empty.
std::string EntryLine(std::string_view page, std::size_t begin, std::size_t end, int depth) {
  std::string_view entry = page.substr(0, end);
  std::size_t i = FindNoCase(entry, "HRE", begin);
  if (i == npos) return {};
  i = std::min(i + 4, end);  // behind "HREF"
  while (i < end && IsBlank(entry[i])) ++i;
  if (i < end && entry[i] == '=') ++i;
  while (i < end && IsBlank(entry[i])) ++i;
  if (i < end && entry[i] == '"') ++i;
  std::size_t linkEnd = i;
  while (linkEnd < end && !IsBlank(entry[linkEnd]) && entry[linkEnd] != '"' && entry[linkEnd] != '>') ++linkEnd;
  std::size_t open = entry.find('>', linkEnd);
  if (open == npos) return {};
  std::size_t close = FindNoCase(entry, "</A", open + 1);
  if (close == npos) close = end;

  std::string text;
  for (std::size_t k = open + 1; k < close; ++k) {
    const char c = entry[k];
    if (c == '<') {
      std::size_t gt = entry.find('>', k);
      if (gt == npos || gt >= close) break;
      k = gt;
    } else if (c == '\n') {
      text += '-';
    } else if (c == '\r') {
      text += ' ';
    } else {
      text += c;
    }
  }
  return Decimal(depth) + " -t " + std::string(entry.substr(i, linkEnd - i)) + QuotedCaption(text);
}

// One line of a tree script as the list page reads it.
struct ScriptLine {
  bool bTree = false;  // a depth was found
  std::int32_t nDepth = 0;
  std::string strUrl;
  std::string strCaption;
};

ScriptLine ReadScriptLine(std::string_view line) {
  ScriptLine l;
  std::size_t i = 0;
  while (i < line.size() && static_cast<unsigned char>(line[i]) < 30) ++i;
  while (i < line.size() && !IsDigit(line[i])) ++i;
  if (i == line.size()) return l;
  l.bTree = true;
  std::size_t digitsEnd = 0;
  l.nDepth = DecimalValue(line.substr(i), &digitsEnd);
  i += digitsEnd;
  // The option ("-t", "-id").
  while (i < line.size() && IsBlank(line[i])) ++i;
  while (i < line.size() && !IsBlank(line[i])) ++i;

  std::string tokens[2];
  int count = 0;
  while (count < 2) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    std::string& token = tokens[count++];
    if (line[i] == '"') {
      // Ended by a quote without a backslash before it; backslashes stay.
      for (++i; i < line.size() && !(line[i] == '"' && line[i - 1] != '\\'); ++i) token += line[i];
      if (i < line.size()) ++i;
    } else {
      while (i < line.size() && !IsBlank(line[i])) token += line[i++];
    }
  }
  if (count == 2) {
    l.strUrl = tokens[0];
    l.strCaption = tokens[1];
  } else if (count == 1) {
    l.strCaption = tokens[0];
  } else {
    l.bTree = false;  // a number alone describes no node
  }
  return l;
}

}  // namespace

std::string ContentsTreeLines(std::string_view page) {
  const std::vector<Structure> tags = ListTags(page);
  std::string out;
  int depth = 1;
  for (std::size_t t = 0; t < tags.size(); ++t) {
    switch (tags[t].tag) {
      case ListTag::kOpen: ++depth; break;
      case ListTag::kClose: --depth; break;
      case ListTag::kEntry: {
        // An entry ends where the next list tag begins, so an entry without
        // a link never takes the link of the next one.
        std::size_t end = t + 1 < tags.size() ? tags[t + 1].lt : page.size();
        out += EntryLine(page, tags[t].name + 2, end, depth);
        break;
      }
    }
  }
  return out;
}

std::string TreeListPage(std::string_view script, std::string_view title) {
  const std::string shown = HtmlEscape(title);
  std::string out =
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\"><html><head><meta http-equiv=\"Content-Type\"content=\"text/html; "
      "charset=windows-1250\"><meta name=\"GENERATOR\" content=\"Vamu Qad\"><title>Vamu Qad'98\\" +
      shown + "</title></head><body  topmargin=\"1\" ><P>Spis treści dla <B>" + shown + "</B></P><UL>";
  std::int32_t current = 1;
  auto emit = [&](std::int32_t depth, const std::string& url, const std::string& caption) {
    if (depth > current) out += "<UL>";
    else if (depth < current) out += "</UL>";
    out += "<LI><A HREF=\"" + url + "\" >" + caption + "</A></LI>";
    current = depth;
  };

  ScriptLine previous;
  for (std::size_t start = 0; start < script.size();) {
    std::size_t lf = script.find('\n', start);
    std::size_t end = lf == npos ? script.size() : lf;
    ScriptLine line = ReadScriptLine(script.substr(start, end - start));
    start = lf == npos ? script.size() : lf + 1;
    if (!line.bTree) continue;
    if (line.strCaption == kLoading) {
      // The next level's page: its title is the path of captions.
      if (previous.bTree && previous.strUrl.empty())
        emit(previous.nDepth,
             line.strUrl + "&HTML=YES&TITLE=" + PercentEncode(std::string(title) + "\\" + previous.strCaption),
             previous.strCaption);
    } else if (!line.strUrl.empty()) {
      emit(line.nDepth, line.strUrl, line.strCaption);
    }
    previous = line;  // a node without a link waits for its placeholder
  }
  return out + "</UL></BODY></HTML>";
}

}  // namespace portico
