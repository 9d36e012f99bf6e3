#include "portico/act_text.h"

#include <algorithm>
#include <optional>

#include "portico/text.h"
#include "portico/utf8.h"

namespace portico {

namespace {

constexpr unsigned char kSection = 0xA7;  // "§" in windows-1250

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

struct Entity {
  const char* name;
  unsigned char byte;
};
// The named entities the documents use, with their windows-1250 bytes.
constexpr Entity kEntities[] = {
    {"amp", '&'},    {"lt", '<'},      {"gt", '>'},      {"quot", '"'},    {"apos", '\''},   {"nbsp", 0xA0},
    {"sect", 0xA7},  {"ndash", 0x96},  {"mdash", 0x97},  {"bdquo", 0x84},  {"ldquo", 0x93},  {"rdquo", 0x94},
    {"lsquo", 0x91}, {"rsquo", 0x92},  {"hellip", 0x85}, {"laquo", 0xAB},  {"raquo", 0xBB},  {"deg", 0xB0},
    {"copy", 0xA9},  {"oacute", 0xF3}, {"Oacute", 0xD3}, {"middot", 0xB7}, {"shy", 0xAD},    {"bull", 0x95},
};

// The entity at text[at] ("&..."): its byte and length; nothing when the
// text there is no entity this reader knows (the "&" is then text).
std::optional<std::pair<unsigned char, std::size_t>> EntityAt(std::string_view text, std::size_t at) {
  std::size_t semi = text.find(';', at + 1);
  if (semi == npos || semi - at > 10 || semi == at + 1) return std::nullopt;
  std::string_view name = text.substr(at + 1, semi - at - 1);
  const std::size_t length = semi - at + 1;
  if (name[0] == '#') {
    unsigned long cp = 0;
    bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 7) return std::nullopt;
    for (char c : digits) {
      int d = IsAsciiDigit(c) ? c - '0' : hex && IsAsciiLetter(c) && Lower(c) <= 'f' ? Lower(c) - 'a' + 10 : -1;
      if (d < 0) return std::nullopt;
      cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
    }
    unsigned char byte = cp >= 0x20 ? Cp1250Byte(cp) : 0;
    return std::make_pair(byte ? byte : static_cast<unsigned char>('?'), length);
  }
  for (const Entity& e : kEntities)
    if (name == e.name) return std::make_pair(e.byte, length);
  return std::nullopt;
}

struct InlineTag {
  const char* source;  // upper case, as matched
  const char* html;
};
constexpr InlineTag kInline[] = {
    {"B", "b"},     {"STRONG", "strong"}, {"I", "i"},     {"EM", "em"},
    {"U", "u"},     {"SUP", "sup"},       {"SUB", "sub"}, {"SMALL", "small"},
};

const char* InlineHtml(std::string_view name) {
  for (const InlineTag& t : kInline)
    if (name == t.source) return t.html;
  return nullptr;
}

bool IsBlockTag(std::string_view name) {
  for (const char* b : {"P", "DIV", "LI", "DD", "DT", "TR", "TD", "TH", "TABLE", "UL", "OL", "DL", "CENTER",
                        "BLOCKQUOTE", "HR", "PRE", "ADDRESS", "FORM", "BODY", "CAPTION"})
    if (name == b) return true;
  return false;
}

// The value of attribute `name` (upper case) in a tag's attribute text.
std::optional<std::string> Attribute(std::string_view attributes, std::string_view name) {
  std::size_t i = 0;
  while (i < attributes.size()) {
    while (i < attributes.size() && !IsAsciiLetter(attributes[i])) ++i;
    std::size_t start = i;
    while (i < attributes.size() && (IsAsciiLetter(attributes[i]) || attributes[i] == '-')) ++i;
    std::string key = UpperCased(attributes.substr(start, i - start));
    while (i < attributes.size() && IsBlank(attributes[i])) ++i;
    if (i >= attributes.size() || attributes[i] != '=') {
      if (key.empty()) ++i;
      continue;
    }
    ++i;
    while (i < attributes.size() && IsBlank(attributes[i])) ++i;
    std::string value;
    if (i < attributes.size() && (attributes[i] == '"' || attributes[i] == '\'')) {
      char q = attributes[i++];
      std::size_t end = attributes.find(q, i);
      if (end == npos) end = attributes.size();
      value = std::string(attributes.substr(i, end - i));
      i = end + 1;
    } else {
      std::size_t start2 = i;
      while (i < attributes.size() && !IsBlank(attributes[i])) ++i;
      value = std::string(attributes.substr(start2, i - start2));
    }
    if (key == name) return value;
  }
  return std::nullopt;
}

// Builds the lines while the body is read. Besides the text and the markup
// it notes, for the first bytes of the text, where each byte begins in the
// markup: behind the closing tags before it, in front of the opening ones,
// so that a line cut there stays balanced on both sides.
class LineBuilder {
 public:
  void Text(unsigned char c) {
    if (c < 0x20 || c == 0x7F) {
      if (c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') m_space = true;
      return;  // other control bytes have no place in a page, a feed or JSON
    }
    if (c == ' ') {
      m_space = true;
      return;
    }
    Space();
    TakeAnchors();
    Mark();
    m_line.text += char(c);
    const char ch = static_cast<char>(c);
    if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') m_line.html += HtmlEscape(std::string_view(&ch, 1));
    else m_line.html += ch;
    m_textEnd = m_line.html.size();
  }
  // A line break inside a line: the text goes on behind a blank.
  void Break() {
    if (m_line.text.empty()) return;
    m_line.html += "<br>";
    m_textEnd = m_line.html.size();
    m_space = true;
    m_break = true;
  }
  void Open(const char* html, bool superscript) {
    Space();
    TakeAnchors();
    if (superscript) {
      Mark();
      m_line.text += '^';
    }
    m_line.html += std::string("<") + html + ">";
    m_open.push_back(html);
  }
  void Close(const char* html) {
    auto it = std::find(m_open.rbegin(), m_open.rend(), std::string(html));
    if (it == m_open.rend()) return;
    std::size_t keep = m_open.size() - static_cast<std::size_t>(it - m_open.rbegin()) - 1;
    while (m_open.size() > keep) {
      m_line.html += "</" + m_open.back() + ">";
      m_open.pop_back();
    }
    m_textEnd = m_line.html.size();
  }
  // An anchor leads to the text that follows it, which may be the next line.
  void Anchor(std::string name) {
    if (!name.empty() && m_pending.size() < 8) m_pending.push_back(std::move(name));
  }
  void Heading(int level) {
    Flush();
    m_line.heading = level;
  }
  // Ends the line; anchors of an empty line wait for the next one.
  void Flush() {
    while (!m_open.empty()) {
      m_line.html += "</" + m_open.back() + ">";
      m_open.pop_back();
    }
    m_space = m_break = false;
    m_textEnd = 0;
    if (m_line.text.empty()) {
      m_line.html.clear();
      m_line.htmlAt.clear();
      m_line.heading = 0;
      return;
    }
    // "<br>" at the end of a line is nothing the reader sees.
    while (m_line.html.size() >= 4 && m_line.html.compare(m_line.html.size() - 4, 4, "<br>") == 0)
      m_line.html.resize(m_line.html.size() - 4);
    m_lines.push_back(std::move(m_line));
    m_line = ActLine();
  }
  std::vector<ActLine> Take() {
    Flush();
    return std::move(m_lines);
  }

 private:
  // The blank between words (none in the markup right behind a line break).
  void Space() {
    if (m_space && !m_line.text.empty()) {
      Mark();
      m_line.text += ' ';
      if (!m_break) m_line.html += ' ';
      m_textEnd = m_line.html.size();
    }
    m_space = m_break = false;
  }
  void Mark() {
    if (m_line.text.size() < kMarkerWindow) m_line.htmlAt.push_back(static_cast<std::uint32_t>(m_textEnd));
  }
  void TakeAnchors() {
    for (std::string& a : m_pending) m_line.anchors.push_back(std::move(a));
    m_pending.clear();
  }

  std::vector<ActLine> m_lines;
  ActLine m_line;
  std::vector<std::string> m_pending;
  std::vector<std::string> m_open;
  std::size_t m_textEnd = 0;  // markup behind the last byte of text and the tags that closed after it
  bool m_space = false;
  bool m_break = false;
};

// The body of a document: behind its body tag up to its last closing body tag.
std::string_view BodyOf(std::string_view document) {
  std::size_t open = FindNoCase(document, "<BODY");
  if (open == npos) return document;
  std::size_t gt = document.find('>', open);
  if (gt == npos) return {};
  std::string_view body = document.substr(gt + 1);
  for (std::size_t at = body.size(); at-- > 0;) {
    if (body[at] == '<' && StartsWithNoCase(body.substr(at), "</BODY")) return body.substr(0, at);
  }
  return body;
}

std::vector<ActLine> ReadLines(std::string_view body) {
  LineBuilder b;
  const std::size_t n = body.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = body[i];
    if (c == '&') {
      if (auto e = EntityAt(body, i)) {
        b.Text(e->first);
        i += e->second;
      } else {
        b.Text('&');
        ++i;
      }
      continue;
    }
    if (c != '<') {
      b.Text(static_cast<unsigned char>(c));
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    const bool closing = j < n && body[j] == '/';
    if (closing) ++j;
    if (j < n && body[j] == '!') {  // a declaration or a stray comment
      std::size_t gt = body.find('>', j);
      i = gt == npos ? n : gt + 1;
      continue;
    }
    if (j >= n || !IsAsciiLetter(body[j])) {
      b.Text('<');
      ++i;
      continue;
    }
    std::size_t nameEnd = j;
    while (nameEnd < n && (IsAsciiLetter(body[nameEnd]) || IsAsciiDigit(body[nameEnd]))) ++nameEnd;
    std::size_t gt = body.find('>', nameEnd);
    if (gt == npos) break;  // an unfinished tag ends the text
    const std::string name = UpperCased(body.substr(j, nameEnd - j));
    const std::string_view attributes = body.substr(nameEnd, gt - nameEnd);
    i = gt + 1;
    if (name.size() == 2 && name[0] == 'H' && name[1] >= '1' && name[1] <= '6') {
      if (closing) b.Flush();
      else b.Heading(name[1] - '0');
    } else if (IsBlockTag(name)) {
      b.Flush();
    } else if (name == "BR") {
      b.Break();
    } else if (const char* html = InlineHtml(name)) {
      if (closing) b.Close(html);
      else b.Open(html, name == "SUP");
    } else if (name == "A" && !closing) {
      if (auto anchor = Attribute(attributes, "NAME")) b.Anchor(*anchor);
    } else if (!closing && (name == "SCRIPT" || name == "STYLE" || name == "TITLE" || name == "HEAD")) {
      // Their contents are no text of the act.
      std::size_t end = FindNoCase(body, "</" + name, i);
      std::size_t endGt = end == npos ? npos : body.find('>', end);
      i = endGt == npos ? n : endGt + 1;
    }
  }
  return b.Take();
}

// A provision number at text[pos]: digits (1-5), letters (up to 3, made
// lower case), then a superscript written "[1]", "^1" or "(1)"; canonical
// "22(1)". With `letterOnly`, the number is 1-3 lower-case letters.
std::optional<std::string> NumberAt(std::string_view t, std::size_t& pos, bool letterOnly) {
  std::size_t i = pos;
  std::string out;
  if (letterOnly) {
    while (i < t.size() && t[i] >= 'a' && t[i] <= 'z' && out.size() < 4) out += t[i++];
    if (out.empty() || out.size() > 3) return std::nullopt;
  } else {
    while (i < t.size() && IsAsciiDigit(t[i]) && out.size() < 6) out += t[i++];
    if (out.empty() || out.size() > 5 || out[0] == '0') return std::nullopt;
    std::size_t letters = 0;
    while (i < t.size() && IsAsciiLetter(t[i]) && letters < 4) out += Lower(t[i++]), ++letters;
    if (letters > 3) return std::nullopt;
  }
  // A superscript number.
  if (i + 1 < t.size() && (t[i] == '[' || t[i] == '^' || t[i] == '(')) {
    const char open = t[i];
    std::size_t k = i + 1;
    std::string sup;
    while (k < t.size() && IsAsciiDigit(t[k]) && sup.size() < 4) sup += t[k++];
    const bool closed = open == '^' || (k < t.size() && t[k] == (open == '[' ? ']' : ')'));
    if (!sup.empty() && sup.size() <= 3 && sup[0] != '0' && closed) {
      out += "(" + sup + ")";
      i = open == '^' ? k : k + 1;
    }
  }
  pos = i;
  return out;
}

void SkipBlanks(std::string_view t, std::size_t& pos) {
  while (pos < t.size() && t[pos] == ' ') ++pos;
}

// "Art. 5." (also "Art. 22[1].", "Art. 115-129."); the article number, pos behind the ".".
std::optional<std::string> ArticleAt(std::string_view t, std::size_t& pos) {
  if (t.substr(0, 4) != "Art.") return std::nullopt;
  std::size_t i = 4;
  SkipBlanks(t, i);
  std::optional<std::string> number = NumberAt(t, i, false);
  if (!number) return std::nullopt;
  if (i < t.size() && (t[i] == '-' || static_cast<unsigned char>(t[i]) == 0x96)) {  // a range of articles
    std::size_t k = i + 1;
    std::optional<std::string> last = NumberAt(t, k, false);
    if (!last) return std::nullopt;
    *number += "-" + *last;
    i = k;
  }
  SkipBlanks(t, i);
  if (i >= t.size() || t[i] != '.') return std::nullopt;
  pos = i + 1;
  return number;
}

// A unit marker at text[pos]: "§ 2." (paragraph), "2." (section), "2)"
// (point), "a)" (letter).
std::optional<Provision> UnitAt(std::string_view t, std::size_t& pos) {
  std::size_t i = pos;
  SkipBlanks(t, i);
  if (i < t.size() && static_cast<unsigned char>(t[i]) == kSection) {
    ++i;
    SkipBlanks(t, i);
    std::optional<std::string> n = NumberAt(t, i, false);
    if (!n) return std::nullopt;
    if (i < t.size() && t[i] == '.') ++i;
    if (i < t.size() && t[i] != ' ') return std::nullopt;
    pos = i;
    return Provision{ProvisionKind::kParagraph, *n};
  }
  if (i < t.size() && IsAsciiDigit(t[i])) {
    std::optional<std::string> n = NumberAt(t, i, false);
    if (!n || i >= t.size()) return std::nullopt;
    ProvisionKind kind;
    if (t[i] == '.') kind = ProvisionKind::kSection;
    else if (t[i] == ')') kind = ProvisionKind::kPoint;
    else return std::nullopt;
    ++i;
    if (i < t.size() && t[i] != ' ') return std::nullopt;  // "1.5" or "2.)" is no marker
    pos = i;
    return Provision{kind, *n};
  }
  if (i < t.size() && t[i] >= 'a' && t[i] <= 'z') {
    std::optional<std::string> n = NumberAt(t, i, true);
    if (!n || i >= t.size() || t[i] != ')') return std::nullopt;
    ++i;
    if (i < t.size() && t[i] != ' ') return std::nullopt;
    pos = i;
    return Provision{ProvisionKind::kLetter, *n};
  }
  return std::nullopt;
}

// Puts a unit below the provisions it belongs to: what is of its kind or
// smaller ends.
void Place(ProvisionPath& current, Provision unit) {
  while (!current.empty() && current.back().kind >= unit.kind) current.pop_back();
  current.push_back(std::move(unit));
}

void AssignProvisions(std::vector<ActLine>& lines) {
  ProvisionPath current;
  bool articles = false;
  for (ActLine& line : lines) {
    if (line.heading) {
      current.clear();  // a heading ends the provision before it
      line.firstNew = 0;
      continue;
    }
    const std::string_view t = line.text;
    std::size_t pos = 0;
    std::size_t firstNew = npos;
    if (std::optional<std::string> article = ArticleAt(t, pos)) {
      articles = true;
      current = {Provision{ProvisionKind::kArticle, *article}};
      firstNew = 0;
      line.articleLength = pos;
      std::size_t unitPos = pos;
      if (std::optional<Provision> unit = UnitAt(t, unitPos)) {
        Place(current, *unit);
        pos = unitPos;
      }
    } else {
      std::size_t unitPos = 0;
      std::optional<Provision> unit = UnitAt(t, unitPos);
      // Outside articles only an act of paragraphs has units of its own.
      const bool fits = unit && (!current.empty() || (!articles && unit->kind == ProvisionKind::kParagraph));
      if (fits) {
        Place(current, *unit);
        firstNew = current.size() - 1;
        pos = unitPos;
      } else {
        pos = 0;
      }
    }
    line.path = current;
    line.firstNew = firstNew == npos ? current.size() : firstNew;
    while (pos < t.size() && t[pos] == ' ') ++pos;
    line.markerLength = pos;
  }
}

bool StartsWith(const ProvisionPath& path, const ProvisionPath& prefix) {
  if (prefix.size() > path.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), path.begin());
}

// The word of a unit in a location key at key[pos] ("UST", "PKT", "§"), pos behind it.
std::optional<ProvisionKind> KeyWordAt(std::string_view key, std::size_t& pos) {
  if (key.substr(pos, 3) == "UST") return pos += 3, ProvisionKind::kSection;
  if (key.substr(pos, 3) == "PKT") return pos += 3, ProvisionKind::kPoint;
  if (pos < key.size() && static_cast<unsigned char>(key[pos]) == kSection) return pos += 1, ProvisionKind::kParagraph;
  return std::nullopt;
}

// A number in a location key (upper case): digits, one letter when the key
// ends or a unit word follows it ("5A", "5AUST2"), a superscript "(1)".
std::optional<std::string> KeyNumber(std::string_view key, std::size_t& pos) {
  std::size_t i = pos;
  while (i < key.size() && IsAsciiDigit(key[i]) && i - pos < 6) ++i;
  if (i == pos || i - pos > 5 || key[pos] == '0') return std::nullopt;
  std::string number(key.substr(pos, i - pos));
  if (i < key.size() && IsAsciiLetter(key[i])) {
    std::size_t after = i + 1;
    std::size_t probe = after;
    if (after == key.size() || key[after] == '(' || KeyWordAt(key, probe)) {
      number += Lower(key[i]);
      i = after;
    }
  }
  if (i < key.size() && key[i] == '(') {
    std::size_t close = key.find(')', i);
    std::string_view inner = close == npos ? std::string_view() : key.substr(i + 1, close - i - 1);
    bool digits = !inner.empty() && inner.size() <= 3 && inner[0] != '0';
    for (char c : inner) digits = digits && IsAsciiDigit(c);
    if (digits) {
      number += "(" + std::string(inner) + ")";
      i = close + 1;
    }
  }
  pos = i;
  return number;
}

}  // namespace

std::string ActLine::HtmlFrom(std::size_t textOffset) const {
  while (textOffset < text.size() && text[textOffset] == ' ') ++textOffset;
  if (textOffset == 0) return html;
  if (textOffset >= text.size()) return {};
  std::size_t at = textOffset < htmlAt.size() ? htmlAt[textOffset] : npos;
  // The cut is clean when every element opened before it is closed before it.
  int open = 0;
  for (std::size_t i = 0; at != npos && i < at; ++i)
    if (html[i] == '<') open += (i + 1 < at && html[i + 1] == '/') ? -1 : (html.compare(i, 4, "<br>") == 0 ? 0 : 1);
  if (at != npos && open == 0) return html.substr(at);
  return HtmlEscape(std::string_view(text).substr(textOffset));
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '&') {
      if (auto e = EntityAt(text, i)) {
        out += char(e->first);
        i += e->second;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

ActText ReadActText(std::string_view document) {
  ActText act;
  act.lines = ReadLines(BodyOf(document));
  AssignProvisions(act.lines);
  return act;
}

std::vector<std::size_t> ActText::LinesOf(const ProvisionPath& path) const {
  std::vector<std::size_t> out;
  if (path.empty()) return out;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (StartsWith(lines[i].path, path)) out.push_back(i);
  return out;
}

std::vector<ProvisionPath> ActText::Provisions() const {
  std::vector<ProvisionPath> out;
  for (const ActLine& line : lines)
    for (std::size_t d = line.firstNew; d < line.path.size(); ++d)
      out.emplace_back(line.path.begin(), line.path.begin() + static_cast<long>(d) + 1);
  return out;
}

std::vector<ActText::Unit> ActText::TopUnits() const {
  std::vector<Unit> out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ActLine& line = lines[i];
    if (line.path.empty()) continue;
    if (line.firstNew == 0 || out.empty() || !(out.back().provision == line.path[0]))
      out.push_back({line.path[0], {}});
    out.back().lines.push_back(i);
  }
  return out;
}

ProvisionPath ProvisionOfLocationKey(std::string_view key) {
  ProvisionPath path;
  if (key.size() < 2 || (key[0] != 'B' && key[0] != 'C')) return path;
  std::size_t pos = 1;
  const bool article = key[0] == 'B';
  std::optional<std::string> number = KeyNumber(key, pos);
  if (!number) return path;
  path.push_back({article ? ProvisionKind::kArticle : ProvisionKind::kParagraph, *number});
  while (pos < key.size()) {
    std::optional<ProvisionKind> kind = KeyWordAt(key, pos);
    if (!kind) break;
    std::optional<std::string> n = KeyNumber(key, pos);
    if (!n || *kind <= path.back().kind) break;
    path.push_back({*kind, *n});
  }
  return path;
}

}  // namespace portico
