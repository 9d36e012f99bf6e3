#include "setup/inf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cp1250.h"
#include "platform/registry.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string UpperKey(std::string_view key) {
  std::string out(key);
  cp1250::UpperCase(out.data(), out.size());
  return out;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string LinePrefix(int number) { return "line " + std::to_string(number) + ": "; }

// Collects the characters of one field. Blanks are trimmed at both ends,
// except blanks written inside quotes.
class FieldBuilder {
 public:
  void Quoted(char c) {
    m_text += c;
    m_keep = m_text.size();
    m_started = true;
  }
  void OpenQuote() { m_started = true; }
  void Plain(char c) {
    if (IsBlank(c)) {
      if (m_started) m_text += c;
      return;
    }
    m_text += c;
    m_keep = m_text.size();
    m_started = true;
  }
  std::string Take() {
    m_text.resize(m_keep);
    std::string out = std::move(m_text);
    m_text.clear();
    m_keep = 0;
    m_started = false;
    return out;
  }

 private:
  std::string m_text;
  std::size_t m_keep = 0;  // length that trimming must not cut
  bool m_started = false;
};

// The text line by line ('\n' ends a line), counting the lines from 1.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : m_text(text) {}
  bool AtEnd() const { return m_pos >= m_text.size(); }
  std::string_view Next() {
    std::size_t nl = m_text.find('\n', m_pos);
    std::string_view line = m_text.substr(m_pos, nl == std::string_view::npos ? std::string_view::npos : nl - m_pos);
    m_pos = nl == std::string_view::npos ? m_text.size() : nl + 1;
    ++m_number;
    return line;
  }
  int Number() const { return m_number; }  // of the line Next gave last

 private:
  std::string_view m_text;
  std::size_t m_pos = 0;
  int m_number = 0;
};

// Scans one line of an entry into its key and fields: the field being built
// stays in `field` for the next line or the end of the entry. `any` becomes
// true at the first character that is neither blank nor comment. True when
// the line ends with a continuation mark.
bool ScanFields(std::string_view line, InfLine& entry, FieldBuilder& field, bool& any) {
  bool inQuote = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (inQuote) {
      if (c != '"') {
        field.Quoted(c);
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        field.Quoted('"');
        ++i;
      } else {
        inQuote = false;
      }
      continue;
    }
    if (c == ';') break;
    if (!IsBlank(c)) any = true;
    if (c == '"') {
      inQuote = true;
      field.OpenQuote();
    } else if (c == ',') {
      entry.fields.push_back(field.Take());
    } else if (c == '=' && !entry.hasKey && entry.fields.empty()) {
      entry.key = field.Take();
      entry.hasKey = true;
    } else if (c == '\\' && line.find_first_not_of(" \t\r\v\f", i + 1) == std::string_view::npos) {
      return true;
    } else {
      field.Plain(c);
    }
  }
  // A quote left open ends with its line.
  return false;
}

// One entry as read: nothing (blank or comment lines), a section header, or
// an entry of the current section.
struct RawEntry {
  enum Kind { kNothing, kHeader, kEntry } kind = kNothing;
  std::string section;  // kHeader: the name between the brackets, trimmed
  InfLine line;         // kEntry
};

// Reads the next entry, which continuation marks may spread over several
// lines; a '[' before anything else on a line opens a section header.
// Nothing, with the line named in *error, for a header without ']'.
std::optional<RawEntry> ReadEntry(LineCursor& lines, std::string* error) {
  RawEntry out;
  FieldBuilder field;
  bool any = false;
  bool continued;
  do {
    std::string_view line = lines.Next();
    if (!any) out.line.number = lines.Number();
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (!any && first < line.size() && line[first] == '[') {
      std::size_t close = line.find(']', first + 1);
      if (close == std::string_view::npos) {
        *error = LinePrefix(lines.Number()) + "section name without ']'";
        return std::nullopt;
      }
      FieldBuilder name;
      for (char c : line.substr(first + 1, close - first - 1)) name.Plain(c);
      out.kind = RawEntry::kHeader;
      out.section = name.Take();
      return out;
    }
    continued = ScanFields(line, out.line, field, any);
  } while (continued && !lines.AtEnd());
  if (any) {
    out.line.fields.push_back(field.Take());
    out.kind = RawEntry::kEntry;
  }
  return out;
}

}  // namespace

std::optional<CInfFile> CInfFile::Open(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > kMaxBytes) {
    ::close(fd);
    *error = path + ": not a regular file of at most " + std::to_string(kMaxBytes) + " bytes";
    return std::nullopt;
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": " + std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > kMaxBytes) {  // the file grew while being read
      *error = path + ": larger than " + std::to_string(kMaxBytes) + " bytes";
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  std::string why;
  auto inf = Parse(data, &why);
  if (!inf) *error = path + ": " + why;
  return inf;
}

std::optional<CInfFile> CInfFile::Parse(std::string_view text, std::string* error) {
  CInfFile inf;
  Section* current = nullptr;
  LineCursor lines(text);
  while (!lines.AtEnd()) {
    std::optional<RawEntry> entry = ReadEntry(lines, error);
    if (!entry) return std::nullopt;
    switch (entry->kind) {
      case RawEntry::kNothing:
        break;
      case RawEntry::kHeader:
        current = &inf.SectionNamed(entry->section);
        break;
      case RawEntry::kEntry:
        if (!current) {
          *error = LinePrefix(entry->line.number) + "entry before the first section";
          return std::nullopt;
        }
        current->lines.push_back(std::move(entry->line));
        break;
    }
  }
  if (!CheckSignature(inf, error)) return std::nullopt;
  return inf;
}

CInfFile::Section& CInfFile::SectionNamed(const std::string& name) {
  if (Section* s = FindSection(name)) return *s;
  m_sections.push_back(Section{name, {}});
  return m_sections.back();
}

bool CInfFile::CheckSignature(const CInfFile& inf, std::string* error) {
  // Only a Windows 4 style file is accepted, as the installer of the system
  // the file format comes from does.
  auto signature = inf.Fields("Version", "Signature");
  if (!signature || signature->empty()) {
    *error = "no Signature in [Version]";
    return false;
  }
  const std::string& s = signature->front();
  if (!RegNameEquals(s, "$Chicago$") && !RegNameEquals(s, "$Windows NT$") && !RegNameEquals(s, "$Windows 95$")) {
    *error = "signature " + s + " is not of a Windows 4 style file";
    return false;
  }
  return true;
}

CInfFile::Section* CInfFile::FindSection(std::string_view name) {
  for (auto& s : m_sections)
    if (RegNameEquals(s.name, name)) return &s;
  return nullptr;
}

const CInfFile::Section* CInfFile::FindSection(std::string_view name) const {
  return const_cast<CInfFile*>(this)->FindSection(name);
}

bool CInfFile::HasSection(std::string_view name) const { return FindSection(name) != nullptr; }

const std::vector<InfLine>& CInfFile::Lines(std::string_view section) const {
  static const std::vector<InfLine> kNone;
  const Section* s = FindSection(section);
  return s ? s->lines : kNone;
}

std::optional<std::vector<std::string>> CInfFile::Fields(std::string_view section, std::string_view key) const {
  for (const InfLine& line : Lines(section))
    if (line.hasKey && RegNameEquals(line.key, key)) return Substituted(line);
  return std::nullopt;
}

std::vector<std::string> CInfFile::AllFields(std::string_view section, std::string_view key) const {
  std::vector<std::string> out;
  for (const InfLine& line : Lines(section))
    if (line.hasKey && RegNameEquals(line.key, key))
      for (auto& f : Substituted(line)) out.push_back(std::move(f));
  return out;
}

void CInfFile::Define(std::string_view key, std::string_view value) { m_defined[UpperKey(key)] = value; }

std::optional<std::string> CInfFile::Lookup(std::string_view key, int depth, int* budget) const {
  if (*budget <= 0) return std::nullopt;
  --*budget;
  if (auto it = m_defined.find(UpperKey(key)); it != m_defined.end()) return it->second;
  // Numeric keys are directory numbers, only ever defined by the program.
  if (depth >= kMaxNesting || AllDigits(key)) return std::nullopt;
  for (const InfLine& line : Lines("Strings")) {
    if (!line.hasKey || !RegNameEquals(line.key, key)) continue;
    std::string value;
    for (std::size_t i = 0; i < line.fields.size(); ++i) value += (i ? "," : "") + line.fields[i];
    return Expand(value, depth + 1, budget);
  }
  return std::nullopt;
}

std::string CInfFile::Expand(std::string_view text, int depth, int* budget) const {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    std::size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos) {
      out += text.substr(i);
      break;
    }
    if (close == i + 1) {
      out += '%';
      i += 2;
      continue;
    }
    if (auto value = Lookup(text.substr(i + 1, close - i - 1), depth, budget)) {
      out += *value;
      if (out.size() > kMaxBytes) *budget = 0;  // enough: expand nothing more
      i = close + 1;
    } else {
      // Not a key: keep the text; the closing '%' may open the next key.
      out += text.substr(i, close - i);
      i = close;
    }
  }
  return out;
}

std::string CInfFile::Substitute(std::string_view text) const {
  int budget = kMaxLookups;
  return Expand(text, 0, &budget);
}

std::vector<std::string> CInfFile::Substituted(const InfLine& line) const {
  std::vector<std::string> out;
  out.reserve(line.fields.size());
  for (const auto& f : line.fields) out.push_back(Substitute(f));
  return out;
}
