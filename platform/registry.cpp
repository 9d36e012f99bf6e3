#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "platform/cp1250.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Reads a quoted string at s[0] == '"'; returns the unescaped text and the rest.
std::optional<std::pair<std::string, std::string_view>> ReadQuoted(std::string_view s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (c == '"') {
      return std::make_pair(out, s.substr(i + 1));
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::optional<RegValue> ParseValueLine(std::string_view line) {
  if (line.empty()) return std::nullopt;
  RegValue v;
  std::string_view rest;
  if (line.front() == '@') {
    rest = line.substr(1);
  } else {
    auto name = ReadQuoted(line);
    if (!name) return std::nullopt;
    v.name = name->first;
    rest = name->second;
  }
  rest = Trim(rest);
  if (rest.empty() || rest.front() != '=') return std::nullopt;
  rest = Trim(rest.substr(1));
  if (!rest.empty() && rest.front() == '"') {
    auto text = ReadQuoted(rest);
    if (!text) return std::nullopt;
    v.type = RegValue::String;
    v.text = text->first;
    return v;
  }
  constexpr std::string_view kDword = "dword:";
  if (rest.size() > kDword.size() && RegNameEquals(rest.substr(0, kDword.size()), kDword)) {
    std::string hex(rest.substr(kDword.size()));
    if (hex.empty() || hex.size() > 8) return std::nullopt;
    char* end = nullptr;
    unsigned long n = std::strtoul(hex.c_str(), &end, 16);
    if (*end != '\0') return std::nullopt;
    v.type = RegValue::Dword;
    v.dword = static_cast<DWORD>(n);
    return v;
  }
  return std::nullopt;  // binary and other types are not used by the system
}

std::string FormatValue(const RegValue& v) {
  std::string out = v.name.empty() ? std::string("@") : Quote(v.name);
  out += '=';
  if (v.type == RegValue::Dword) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "dword:%08x", v.dword);
    out += hex;
  } else {
    out += Quote(v.text);
  }
  return out;
}

}  // namespace

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(cp1250::ToUpper(static_cast<unsigned char>(c)));
  return folded;
}

bool RegNameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (cp1250::ToUpper(static_cast<unsigned char>(a[i])) != cp1250::ToUpper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool RegValue::SameAs(const RegValue& other) const {
  if (!RegNameEquals(name, other.name) || type != other.type) return false;
  return type == Dword ? dword == other.dword : text == other.text;
}

CRegistry CRegistry::Parse(std::string_view text) {
  CRegistry reg;
  int current = -1;  // the key whose values follow; -1 where nothing may be read
  bool first = true;
  while (!text.empty()) {
    auto nl = text.find('\n');
    Line entry;
    entry.text = std::string(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (!entry.text.empty() && entry.text.back() == '\r') entry.text.pop_back();
    std::string_view line = Trim(entry.text);
    bool header = first && line == kHeader;
    if (!line.empty()) first = false;
    if (!header && !line.empty() && line.front() == '[') {
      // A key line; a deletion block ("[-key]") or a damaged key line opens
      // nothing that may be read.
      bool whole = line.size() >= 2 && line.back() == ']';
      std::string_view path = whole ? line.substr(1, line.size() - 2) : std::string_view{};
      current = whole && (path.empty() || path.front() != '-') ? reg.KeyIndex(path) : -1;
      entry.key = current;
    } else if (current >= 0 && !line.empty() && line.front() != ';') {
      if ((entry.value = ParseValueLine(line))) entry.key = current;
    }
    reg.m_lines.push_back(std::move(entry));
  }
  return reg;
}

std::string CRegistry::Serialize() const {
  std::string out;
  if (m_lines.empty() || Trim(m_lines.front().text) != kHeader) out = std::string(kHeader) + "\r\n";
  for (const Line& line : m_lines) {
    out += line.text;
    out += "\r\n";
  }
  return out;
}

int CRegistry::FindKey(std::string_view key) const {
  auto it = m_keyIndex.find(FoldName(key));
  return it == m_keyIndex.end() ? -1 : it->second;
}

int CRegistry::KeyIndex(std::string_view key) {
  auto [it, added] = m_keyIndex.emplace(FoldName(key), static_cast<int>(m_keys.size()));
  if (added) m_keys.emplace_back(key);
  return it->second;
}

int CRegistry::KeyFor(std::string_view key) {
  int k = FindKey(key);
  if (k >= 0) return k;
  k = KeyIndex(key);
  m_lines.push_back(Line{});
  m_lines.push_back(Line{"[" + std::string(key) + "]", k, std::nullopt});
  return k;
}

bool CRegistry::HasKey(std::string_view key) const {
  for (const auto& path : m_keys) {
    if (path.size() < key.size()) continue;
    if (!RegNameEquals(std::string_view(path).substr(0, key.size()), key)) continue;
    if (path.size() == key.size() || path[key.size()] == '\\') return true;
  }
  return false;
}

std::vector<std::vector<RegValue>> CRegistry::AllValues() const {
  std::vector<std::vector<RegValue>> values(m_keys.size());
  std::vector<std::unordered_map<std::string, std::size_t>> places(m_keys.size());
  for (const Line& line : m_lines) {
    if (line.key < 0 || !line.value) continue;
    auto& list = values[static_cast<std::size_t>(line.key)];
    auto [it, added] = places[static_cast<std::size_t>(line.key)].emplace(FoldName(line.value->name), list.size());
    if (added) list.push_back(*line.value);
    else list[it->second] = *line.value;
  }
  return values;
}

std::vector<RegValue> CRegistry::Values(std::string_view key) const {
  int k = FindKey(key);
  if (k < 0) return {};
  return std::move(AllValues()[static_cast<std::size_t>(k)]);
}

std::size_t CRegistry::CountValues(std::string_view key) const { return Values(key).size(); }

std::optional<RegValue> CRegistry::Value(std::string_view key, std::string_view name) const {
  std::optional<RegValue> found;
  int k = FindKey(key);
  for (const Line& line : m_lines)
    if (k >= 0 && line.key == k && line.value && RegNameEquals(line.value->name, name)) found = line.value;
  return found;
}

void CRegistry::Set(std::string_view key, RegValue value) {
  int k = KeyFor(key);
  std::size_t last = 0;  // the last line of the key: a new value goes behind it
  bool present = false;
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    Line& line = m_lines[i];
    if (line.key != k) continue;
    last = i;
    if (!line.value || !RegNameEquals(line.value->name, value.name)) continue;
    // Every line of the name changes, so that which one wins does not matter.
    present = true;
    if (line.value->SameAs(value)) continue;
    std::string name = line.value->name;  // keeps the spelling of the file
    line.value = value;
    line.value->name = std::move(name);
    line.text = FormatValue(*line.value);
  }
  if (present) return;
  std::string text = FormatValue(value);
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{std::move(text), k, std::move(value)});
}

void CRegistry::SetString(std::string_view key, std::string_view name, std::string_view text) {
  RegValue v;
  v.name = name;
  v.type = RegValue::String;
  v.text = text;
  Set(key, std::move(v));
}

void CRegistry::SetDword(std::string_view key, std::string_view name, DWORD value) {
  RegValue v;
  v.name = name;
  v.type = RegValue::Dword;
  v.dword = value;
  Set(key, std::move(v));
}

void CRegistry::CreateKey(std::string_view key) { KeyFor(key); }

bool CRegistry::ReadsSameAs(const CRegistry& other) const {
  if (m_keys.size() != other.m_keys.size()) return false;
  auto mine = AllValues(), theirs = other.AllValues();
  for (std::size_t k = 0; k < m_keys.size(); ++k) {
    int o = other.FindKey(m_keys[k]);
    if (o < 0) return false;
    const auto& a = mine[k];
    const auto& b = theirs[static_cast<std::size_t>(o)];
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (!a[i].SameAs(b[i])) return false;
  }
  return true;
}
