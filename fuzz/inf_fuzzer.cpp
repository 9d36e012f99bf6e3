// The reader of setup's information file.
//
// Input: the text of an information file.
//
// Properties, for a file the reader accepts:
//  - written out again (every field quoted) and read back, it holds the same
//    sections with the same entries: keys, fields, and which have a key;
//  - Fields(section, key) is the substituted first entry with that key, and
//    AllFields the substituted fields of all of them in order;
//  - substitution leaves text without '%' as it is.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/registry.h"
#include "setup/inf_file.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// Every name in brackets at the start of a line: the section names and
// perhaps more (a continued entry's line), one per name up to letter case.
std::vector<std::string> SectionNames(std::string_view text) {
  std::vector<std::string> names;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first >= line.size() || line[first] != '[') continue;
    std::size_t close = line.find(']', first + 1);
    if (close == std::string_view::npos) continue;
    std::string name = Trimmed(line.substr(first + 1, close - first - 1));
    bool known = false;
    for (const auto& n : names) known = known || RegNameEquals(n, name);
    if (!known) names.push_back(name);
  }
  return names;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string WriteOut(const CInfFile& inf, const std::vector<std::string>& sections) {
  std::string out;
  for (const auto& name : sections) {
    if (!inf.HasSection(name)) continue;
    out += "[" + name + "]\r\n";
    for (const InfLine& line : inf.Lines(name)) {
      if (line.hasKey) out += Quoted(line.key) + " = ";
      for (std::size_t i = 0; i < line.fields.size(); ++i) out += (i ? ", " : "") + Quoted(line.fields[i]);
      out += "\r\n";
    }
  }
  return out;
}

bool SameLines(const std::vector<InfLine>& a, const std::vector<InfLine>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].hasKey != b[i].hasKey || a[i].key != b[i].key || a[i].fields != b[i].fields) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::optional<CInfFile> inf = CInfFile::Parse(text, &error);
  if (!inf) {
    FUZZ_REQUIRE(!error.empty(), "a refused file without a reason");
    return 0;
  }
  const std::vector<std::string> sections = SectionNames(text);

  const std::string again = WriteOut(*inf, sections);
  std::string why;
  std::optional<CInfFile> reread = CInfFile::Parse(again, &why);
  FUZZ_REQUIRE(reread.has_value(), "the file written out again is refused: " + why + " in " + fuzz::Shown(again));
  for (const auto& name : sections)
    FUZZ_REQUIRE(SameLines(inf->Lines(name), reread->Lines(name)),
                 "section " + fuzz::Shown(name, 40) + " reads back otherwise from " + fuzz::Shown(again));

  int lookups = 0;
  for (const auto& name : sections) {
    for (const InfLine& line : inf->Lines(name)) {
      if (!line.hasKey || ++lookups > 64) continue;
      std::optional<std::vector<std::string>> fields = inf->Fields(name, line.key);
      const InfLine* first = nullptr;
      std::vector<std::string> all;
      for (const InfLine& l : inf->Lines(name)) {
        if (!l.hasKey || !RegNameEquals(l.key, line.key)) continue;
        if (!first) first = &l;
        for (auto& f : inf->Substituted(l)) all.push_back(f);
      }
      FUZZ_REQUIRE(fields && first && *fields == inf->Substituted(*first),
                   "Fields of " + fuzz::Shown(line.key, 40) + " is not its first entry");
      FUZZ_REQUIRE(inf->AllFields(name, line.key) == all,
                   "AllFields of " + fuzz::Shown(line.key, 40) + " is not every entry in order");
      for (const auto& f : line.fields)
        if (f.find('%') == std::string::npos)
          FUZZ_REQUIRE(inf->Substitute(f) == f, "substitution changed " + fuzz::Shown(f, 40));
    }
  }
  return 0;
}
