// Placing ruling markers: finding the heading of a location key (the title's
// closing tag, an article "Art. 5." or a paragraph "§ 3" at the start of a
// paragraph) and its sub-units ("2." for a paragraph of an article, "3)" for
// a point) in the body of an act, writing the body up to the place found.
//
// The location reached so far is kept level by level (heading, first unit,
// second unit), so that "article 5, paragraph 3" is never taken for
// "article 53".
#include <algorithm>

#include "portico/request.h"
#include "portico/ruling_markers.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kParagraphSign[] = "§";
// A unit right behind its heading is accepted after a "." when it ends
// within this many bytes of the search start.
constexpr std::size_t kUnitNearHeading = 20;

bool StartsWithWord(std::string_view s, std::string_view word) { return s.substr(0, word.size()) == word; }

}  // namespace

struct CMarkerPlacer::Heading {
  char kind = 0;
  std::string text;    // "</H1>", "ART" or "§"
  std::string number;  // compared character by character, case ignored
  std::string sub;     // "[1]" or the text of a "(...)" part
  std::string rest;    // units behind the heading
  bool valid = false;
};

namespace {

// "(1)" becomes "[1]", "(a)" becomes "a"; rest continues behind the ")".
std::string TakeSubPart(std::string& rest) {
  if (rest.empty() || rest[0] != '(') return {};
  std::size_t close = rest.find(')');
  std::string inner = rest.substr(1, close == npos ? npos : close - 1);
  rest.erase(0, close == npos ? rest.size() : close + 1);
  if (!inner.empty() && IsDigit(inner[0])) return "[" + inner + "]";
  return inner;
}

}  // namespace

CMarkerPlacer::CMarkerPlacer(CRequest& request, const char* body, std::size_t length)
    : m_request(request), m_body(body, length) {}

std::size_t CMarkerPlacer::PreviousNonBlank(std::size_t at) const {
  while (at > 0) {
    --at;
    if (!IsBlank(m_body[at])) return at;
  }
  return npos;
}

bool CMarkerPlacer::AfterParagraphTag(std::size_t at) const {
  std::size_t gt = PreviousNonBlank(at);
  if (gt == npos || m_body[gt] != '>') return false;
  std::size_t p = PreviousNonBlank(gt);
  if (p == npos || (m_body[p] != 'P' && m_body[p] != 'p')) return false;
  std::size_t lt = PreviousNonBlank(p);
  return lt != npos && m_body[lt] == '<';
}

// The next heading text that starts a paragraph, from `from`; npos when none.
std::size_t CMarkerPlacer::NextHeading(const std::string& text, std::size_t from) {
  if (!m_bParagraphsFound) {
    // "<", "P", ">" with blanks allowed between and behind them: the same
    // places AfterParagraphTag accepts, found by looking at the "<" only.
    for (std::size_t lt = m_body.find('<'); lt != npos; lt = m_body.find('<', lt + 1)) {
      std::size_t k = lt + 1;
      while (k < m_body.size() && IsBlank(m_body[k])) ++k;
      if (k >= m_body.size() || (m_body[k] != 'P' && m_body[k] != 'p')) continue;
      ++k;
      while (k < m_body.size() && IsBlank(m_body[k])) ++k;
      if (k >= m_body.size() || m_body[k] != '>') continue;
      ++k;
      while (k < m_body.size() && IsBlank(m_body[k])) ++k;
      m_paragraphs.push_back(k);
    }
    m_bParagraphsFound = true;
  }
  auto found = m_headings.find(text);
  if (found == m_headings.end()) {
    std::vector<std::size_t> places;
    for (std::size_t at : m_paragraphs)
      if (StartsWithNoCase(m_body.substr(at), text)) places.push_back(at);
    found = m_headings.emplace(text, std::move(places)).first;
  }
  auto next = std::lower_bound(found->second.begin(), found->second.end(), from);
  return next == found->second.end() ? npos : *next;
}

// The place behind a matching heading (text, optional ".", number, sub-part).
std::size_t CMarkerPlacer::FindHeading(const Heading& h, std::size_t from) {
  const std::size_t n = m_body.size();
  for (std::size_t at = NextHeading(h.text, from); at != npos; at = NextHeading(h.text, at + 1)) {
    std::size_t k = at + h.text.size();
    while (k < n && IsBlank(m_body[k])) ++k;
    if (k < n && m_body[k] == '.') ++k;
    while (k < n && IsBlank(m_body[k])) ++k;
    if (!StartsWithNoCase(m_body.substr(k), h.number)) continue;
    k += h.number.size();
    if (!h.sub.empty()) {
      while (k < n && IsBlank(m_body[k])) ++k;
      if (!StartsWithNoCase(m_body.substr(k), h.sub)) continue;
      k += h.sub.size();
    }
    return k;
  }
  return npos;
}

std::size_t CMarkerPlacer::FindUnit(std::size_t start, const std::string& text, std::size_t end) const {
  std::string_view area = m_body.substr(0, end);
  for (std::size_t at = FindNoCase(area, text, start); at != npos; at = FindNoCase(area, text, at + 1)) {
    std::size_t before = PreviousNonBlank(at);
    bool nearHeading = at + text.size() - start < kUnitNearHeading && before != npos && m_body[before] == '.';
    if (nearHeading || AfterParagraphTag(at)) return at;
  }
  return npos;
}

bool CMarkerPlacer::ParseKey(const std::string& key, Heading& h) {
  if (key.empty()) return false;
  h.kind = key[0];
  std::size_t digits = 1;
  while (digits < key.size() && IsDigit(key[digits])) ++digits;
  switch (h.kind) {
    case 'A':
      h.text = "</H1>";
      break;
    case 'B':
      h.text = "ART";
      h.number = key.substr(1, digits - 1);
      if (h.number.empty()) {
        h.number = key.substr(1);
      } else {
        h.rest = key.substr(digits);
      }
      break;
    case 'C':
      h.text = kParagraphSign;
      h.number = key.substr(1, digits - 1);
      h.rest = key.substr(digits);
      break;
    default:
      return false;
  }
  h.sub = TakeSubPart(h.rest);
  return true;
}

std::size_t CMarkerPlacer::LocateUnits(const Heading& h, std::size_t place) {
  // Units are looked for only within the article: up to the next heading.
  std::size_t end = NextHeading(h.text, place);
  if (end == npos) end = m_body.size();
  std::string rest = h.rest;
  for (std::size_t unit = 0; unit < 3 && !rest.empty(); ++unit) {
    std::size_t w = 0;
    while (w < rest.size() && !IsDigit(rest[w])) ++w;
    std::size_t d = w;
    while (d < rest.size() && IsDigit(rest[d])) ++d;
    const std::string word = rest.substr(0, w);
    const std::string number = rest.substr(w, d - w);
    rest.erase(0, d);
    const std::string sub = unit == 0 ? TakeSubPart(rest) : std::string();
    std::string text;
    if (unit == 0 && word == kParagraphSign)
      text = std::string(kParagraphSign) + " " + number + sub;
    else
      text = number + sub + (StartsWithWord(word, "UST") ? "." : ")");

    if (unit < 2) {
      const std::size_t level = unit + 1;
      if (m_location.size() > level && m_location[level] == text) continue;
      m_location.resize(level);
      m_location.push_back(text);
      std::size_t at = FindUnit(place, text, end);
      if (at == npos) return npos;
      place = at + text.size();
    } else {
      // A letter that is not there leaves the place at its point.
      std::size_t at = FindUnit(place, text, end);
      if (at != npos) place = at + text.size();
    }
  }
  return place;
}

std::size_t CMarkerPlacer::Locate(const std::string& key, std::size_t position) {
  Heading h;
  if (!ParseKey(key, h)) return position;
  const std::string full = h.text + h.number + h.sub;

  std::size_t place = position;
  if (m_location.empty() || m_location[0] != full) {
    m_location.assign(1, full);
    place = h.kind == 'A' ? FindNoCase(m_body, h.text, position) : FindHeading(h, position);
    if (place == npos) return position;
  }
  if (!h.rest.empty() && (place = LocateUnits(h, place)) == npos) return position;

  while (place < m_body.size() && (IsBlank(m_body[place]) || m_body[place] == '.')) ++place;
  WriteChunked(m_request, m_body.data() + position, place - position);
  return place;
}

}  // namespace portico
