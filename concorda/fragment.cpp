#include "concorda/fragment.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "concorda/query.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

void CFragmentTerms::AddWord(std::size_t term, std::string word) {
  std::vector<std::size_t>& terms = m_words[std::move(word)];
  if (std::find(terms.begin(), terms.end(), term) == terms.end()) terms.push_back(term);
}

void CFragmentTerms::AddPattern(std::size_t term, std::string pattern) {
  m_patterns.emplace_back(std::move(pattern), term);
}

void CFragmentTerms::Match(std::string_view word, std::vector<std::size_t>& terms) const {
  if (auto it = m_words.find(std::string(word)); it != m_words.end())
    terms.insert(terms.end(), it->second.begin(), it->second.end());
  if (m_patterns.empty()) return;
  const std::string text(word);
  for (const auto& [pattern, term] : m_patterns)
    if (MatchPattern(pattern.c_str(), text.c_str()) && std::find(terms.begin(), terms.end(), term) == terms.end())
      terms.push_back(term);
}

bool CFragmentTerms::Matches(std::string_view word) const {
  std::vector<std::size_t> terms;
  Match(word, terms);
  return !terms.empty();
}

std::optional<FragmentPlace> NearestPlace(const std::vector<std::vector<DWORD>>& occurrences, DWORD from) {
  struct Event {
    DWORD ordinal;
    std::size_t term;
  };
  std::vector<Event> events;
  std::size_t present = 0;
  for (std::size_t t = 0; t < occurrences.size(); ++t) {
    auto first = std::lower_bound(occurrences[t].begin(), occurrences[t].end(), from);
    if (first == occurrences[t].end()) continue;
    ++present;
    for (auto it = first; it != occurrences[t].end(); ++it) events.push_back({*it, t});
  }
  if (present == 0) return std::nullopt;
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.ordinal < b.ordinal; });
  // The shortest window holding every present term, the first of equal ones.
  std::vector<std::size_t> inside(occurrences.size());
  std::size_t covered = 0, left = 0;
  std::optional<FragmentPlace> best;
  for (const Event& e : events) {
    if (inside[e.term]++ == 0) ++covered;
    while (covered == present) {
      const FragmentPlace window{events[left].ordinal, e.ordinal};
      if (!best || window.last - window.first < best->last - best->first) best = window;
      if (--inside[events[left].term] == 0) --covered;
      ++left;
    }
  }
  return best;
}

namespace {

// The next word of text[0, length) as the index tokenizer finds it:
// [start, letterEnd) holds its letters and any tags between them.
// (The tokenizer's own word extent, FindWordSpan, replaces this once the
// word positions are in.)
bool NextSpan(const char* text, std::size_t length, std::size_t from, std::size_t& start, std::size_t& letterEnd) {
  std::size_t p = from;
  for (;;) {
    if (p >= length) return false;
    const auto c = static_cast<unsigned char>(text[p]);
    if (c == '<') {
      const void* close = std::memchr(text + p, '>', length - p);
      if (!close) return false;
      p = static_cast<std::size_t>(static_cast<const char*>(close) - text) + 1;
      if (p >= length) return false;
    } else if (IsWordChar(c)) {
      break;
    } else {
      ++p;
    }
  }
  start = p;
  std::size_t cur = p, lastLetter = p;
  while (cur < length) {
    if (text[cur] == '<') {
      const void* close = std::memchr(text + cur, '>', length - cur);
      if (!close) break;
      cur = static_cast<std::size_t>(static_cast<const char*>(close) - text) + 1;
      continue;
    }
    if (!IsWordChar(static_cast<unsigned char>(text[cur]))) break;
    lastLetter = cur++;
  }
  letterEnd = lastLetter + 1;
  return true;
}

bool IsBodyTag(std::string_view upper, std::size_t at) {
  if (upper.compare(at, 5, "<BODY") != 0) return false;
  return at + 5 >= upper.size() || upper[at + 5] == '>' || cp1250::IsSpace(static_cast<unsigned char>(upper[at + 5]));
}

}  // namespace

void CDocWords::Read(std::string_view raw, bool whole) {
  m_words.clear();
  std::string upper(raw);
  cp1250::UpperCase(upper.data(), upper.size());
  std::size_t body = std::string_view::npos;
  for (std::size_t at = upper.find("<BODY"); at != std::string::npos; at = upper.find("<BODY", at + 1)) {
    if (IsBodyTag(upper, at)) {
      body = at;
      break;
    }
  }
  m_bBody = body != std::string_view::npos;
  m_nBody = 0;
  std::size_t from = 0, start = 0, letterEnd = 0;
  while (NextSpan(upper.data(), upper.size(), from, start, letterEnd)) {
    std::string text;
    for (std::size_t i = start; i < letterEnd; ++i) {
      if (upper[i] == '<') {
        i = upper.find('>', i);  // there is one: the span ends behind the letters
        continue;
      }
      text += upper[i];
    }
    if (m_bBody && start < body) m_nBody = m_words.size() + 1;
    m_words.push_back({start, letterEnd, std::move(text)});
    from = letterEnd;
  }
  // A prefix may end inside a word.
  if (!whole && !m_words.empty() && m_words.back().letterEnd == raw.size()) m_words.pop_back();
  if (!m_bBody) m_nBody = m_words.size();
  else m_nBody = std::min(m_nBody, m_words.size());
}

std::vector<std::vector<DWORD>> FindOccurrences(const CDocWords& words, const CFragmentTerms& terms) {
  std::vector<std::vector<DWORD>> occurrences(terms.Count());
  std::vector<std::size_t> matched;
  for (std::size_t i = 0; i < words.Count(); ++i) {
    matched.clear();
    terms.Match(words.Text(i), matched);
    for (std::size_t t : matched) occurrences[t].push_back(static_cast<DWORD>(i));
  }
  return occurrences;
}

std::optional<FragmentPlace> ChoosePlace(const std::vector<std::vector<DWORD>>& occurrences, std::size_t bodyStart) {
  if (auto inBody = NearestPlace(occurrences, static_cast<DWORD>(bodyStart))) return inBody;
  return NearestPlace(occurrences, 0);
}

namespace {

// Writes document text as HTML: white space collapsed, tags left out (a tag
// between words counts as a blank), entity references kept, the rest escaped.
class CFragmentWriter {
 public:
  explicit CFragmentWriter(std::size_t maxChars) : m_max(maxChars) {}
  void Blank() { m_bBlank = !m_out.empty(); }
  void Text(std::string_view s, std::size_t chars) {
    Flush();
    m_out += s;
    m_chars += chars;
  }
  void Byte(char c) {
    Flush();
    switch (c) {
      case '&': m_out += "&amp;"; break;
      case '<': m_out += "&lt;"; break;
      case '>': m_out += "&gt;"; break;
      case '"': m_out += "&quot;"; break;
      default: m_out += c;
    }
    ++m_chars;
  }
  // Our own tags: an opening one goes behind a pending blank.
  void Open(const char* tag) {
    Flush();
    m_out += tag;
  }
  void Close(const char* tag) { m_out += tag; }
  void Ellipsis() {
    Flush();
    m_out += "...";
  }
  bool Full() const { return m_chars >= m_max; }
  std::string Take() { return std::move(m_out); }

 private:
  void Flush() {
    if (m_bBlank) m_out += ' ', ++m_chars;
    m_bBlank = false;
  }
  std::string m_out;
  std::size_t m_chars = 0;
  std::size_t m_max;
  bool m_bBlank = false;
};

// The length of an entity reference at raw[at] ("&amp;", "&#261;",
// "&#x105;"), or 0 when none stands there.
std::size_t EntityLength(std::string_view raw, std::size_t at) {
  std::size_t i = at + 1;
  const bool numeric = i < raw.size() && raw[i] == '#';
  if (numeric) ++i;
  const bool hex = numeric && i < raw.size() && (raw[i] == 'x' || raw[i] == 'X');
  if (hex) ++i;
  const std::size_t first = i;
  while (i < raw.size() && i - first < 10) {
    const auto c = static_cast<unsigned char>(raw[i]);
    const bool ok = numeric ? (std::isdigit(c) || (hex && std::isxdigit(c))) : (c < 0x80 && std::isalnum(c));
    if (!ok) break;
    ++i;
  }
  if (i == first || i >= raw.size() || raw[i] != ';') return 0;
  return i + 1 - at;
}

// True for a tag that begins a line or a block of text (<P>, </TD>, <BR>).
bool IsBlockTag(std::string_view raw, std::size_t at) {
  static constexpr std::string_view kBlocks[] = {"P",  "BR", "TD", "TR", "TH", "LI", "DIV", "H1", "H2", "H3",
                                                 "H4", "H5", "H6", "TABLE", "UL", "OL", "DL", "DT", "DD",
                                                 "CENTER", "HR", "BLOCKQUOTE", "TITLE", "PRE", "BODY", "HEAD"};
  std::size_t i = at + 1;
  if (i < raw.size() && raw[i] == '/') ++i;
  std::string name;
  while (i < raw.size() && name.size() < 12 && std::isalnum(static_cast<unsigned char>(raw[i])) &&
         static_cast<unsigned char>(raw[i]) < 0x80)
    name += static_cast<char>(std::toupper(static_cast<unsigned char>(raw[i++])));
  return std::find(std::begin(kBlocks), std::end(kBlocks), name) != std::end(kBlocks);
}

// Display length of a word and the blank before it, for choosing context.
std::size_t Width(const CDocWords& words, std::size_t i) { return words.Text(i).size() + 1; }

}  // namespace

std::string RenderFragment(std::string_view raw, const CDocWords& words, FragmentPlace place,
                           const CFragmentTerms& terms, std::size_t maxChars) {
  if (words.Count() == 0 || place.first > place.last || place.last >= words.Count()) return {};
  // Context words on both sides, about half of what the place leaves each.
  std::size_t core = 0;
  for (std::size_t i = place.first; i <= place.last && core < maxChars; ++i) core += Width(words, i);
  const std::size_t floor = place.first >= words.BodyStart() ? words.BodyStart() : 0;
  std::size_t first = place.first, last = place.last;
  std::size_t room = core < maxChars ? (maxChars - core) / 2 : 0;
  while (first > floor && Width(words, first - 1) <= room) room -= Width(words, --first);
  room += core < maxChars ? maxChars - core - (maxChars - core) / 2 : 0;
  while (last + 1 < words.Count() && Width(words, last + 1) <= room) room -= Width(words, ++last);

  CFragmentWriter out(maxChars + maxChars / 5);
  if (first > floor) out.Ellipsis();
  // The punctuation standing right behind the last word ends the text with it.
  std::size_t end = words.LetterEnd(last);
  for (std::size_t n = 0; n < 3 && end < raw.size(); ++n, ++end) {
    const auto c = static_cast<unsigned char>(raw[end]);
    if (!std::strchr(".,;:!?)", c) || c == 0) break;
  }
  std::size_t next = first;       // the next word to begin
  std::size_t boldEnd = 0;        // inside a bold word up to here
  bool bold = false, cut = false;
  std::size_t wordEnd = 0;        // letters of the current word end here
  for (std::size_t at = words.Start(first); at < end;) {
    if (bold && at >= boldEnd) {
      out.Close("</B>");
      bold = false;
    }
    // A word that starts inside an entity reference or a tag passed over
    // ("&amp;" holds AMP) is not shown as a word of its own.
    while (next <= last && words.Start(next) < at) ++next;
    if (next <= last && at == words.Start(next)) {
      if (out.Full() && next > place.first) {
        cut = true;
        break;
      }
      wordEnd = words.LetterEnd(next);
      if (terms.Matches(words.Text(next))) {
        out.Open("<B>");
        bold = true;
        boldEnd = wordEnd;
      }
      ++next;
    }
    const char c = raw[at];
    if (c == '<') {
      std::size_t close = raw.find('>', at);
      // Between the letters of a word a tag joins them (as the tokenizer
      // reads it); elsewhere a block tag parts the text and an inline one
      // (<B>, <A>, <SUP>) leaves it as it runs.
      if (at >= wordEnd && IsBlockTag(raw, at)) out.Blank();
      at = close == std::string_view::npos ? end : close + 1;
      continue;
    }
    if (c == '&') {
      if (std::size_t n = EntityLength(raw, at)) {
        out.Text(raw.substr(at, n), 1);
        at += n;
        continue;
      }
    }
    if (cp1250::IsSpace(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) == 0xA0) {
      out.Blank();
    } else {
      out.Byte(c);
    }
    ++at;
  }
  if (bold) out.Close("</B>");
  if (cut || last + 1 < words.Count()) out.Ellipsis();
  return out.Take();
}

std::string MakeFragment(std::string_view raw, const CFragmentTerms& terms) {
  CDocWords words;
  words.Read(raw, true);
  std::optional<FragmentPlace> place = ChoosePlace(FindOccurrences(words, terms), words.BodyStart());
  return place ? RenderFragment(raw, words, *place, terms) : std::string();
}

}  // namespace concorda
