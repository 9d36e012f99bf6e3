// Preparing a query text: upper case, phrases rewritten into the words they
// hold joined by "I", and proximities ("X BLISKO/n Y") taken out into terms
// of their own. One pass over the query cuts it into pieces, a second finds
// the proximities among the pieces, a third writes the text.
#include <charconv>
#include <cstdint>

#include "concorda/query.h"
#include "concorda/query_markers.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

namespace {

constexpr char kProximityPrefix[] = "blisko";

enum class Piece { kPhrase, kWord, kSpace, kOther };

struct Unit {
  Piece kind;
  std::size_t begin, end;  // in the upper-cased query; a phrase includes its quotes
};

bool IsTermByte(unsigned char c) { return IsWordChar(c) || c == '*' || c == '?'; }
bool IsSpaceByte(char c) { return cp1250::IsSpace(static_cast<unsigned char>(c)); }

std::vector<Unit> Cut(std::string_view q) {
  std::vector<Unit> units;
  std::size_t i = 0;
  while (i < q.size()) {
    const std::size_t start = i;
    const auto c = static_cast<unsigned char>(q[i]);
    if (c == '"') {
      std::size_t close = q.find('"', i + 1);
      i = close == std::string_view::npos ? q.size() : close + 1;
      units.push_back({Piece::kPhrase, start, i});
    } else if (IsTermByte(c) || MarkersBeforeWord(q.substr(i)) > 0) {
      // A word with the markers that stand directly before it ("~umowa").
      i += MarkersBeforeWord(q.substr(i));
      while (i < q.size() && IsTermByte(static_cast<unsigned char>(q[i]))) ++i;
      units.push_back({Piece::kWord, start, i});
    } else if (IsSpaceByte(q[i])) {
      while (i < q.size() && IsSpaceByte(q[i])) ++i;
      units.push_back({Piece::kSpace, start, i});
    } else {
      units.push_back({Piece::kOther, start, ++i});
    }
  }
  return units;
}

// The text between the quotes of a phrase unit.
std::string_view PhraseText(std::string_view q, const Unit& u) {
  std::size_t end = u.end;
  if (end - u.begin >= 2 && q[end - 1] == '"') --end;
  return q.substr(u.begin + 1, end - u.begin - 1);
}

// Writes a phrase's words joined by the conjunction: after the leading white
// space, every white-space byte is followed by "I ".
void AppendJoined(std::string_view phrase, std::string& out) {
  std::size_t k = 0;
  while (k < phrase.size() && IsSpaceByte(phrase[k])) out += phrase[k++];
  for (; k < phrase.size(); ++k) {
    out += phrase[k];
    if (IsSpaceByte(phrase[k])) out += "I ";
  }
}

// A proximity operator: the units "BLISKO", "/" and digits.
bool IsOperatorAt(std::string_view q, const std::vector<Unit>& u, std::size_t i, DWORD& distance) {
  if (i + 2 >= u.size() || u[i].kind != Piece::kWord || q.substr(u[i].begin, u[i].end - u[i].begin) != "BLISKO")
    return false;
  if (u[i + 1].kind != Piece::kOther || q[u[i + 1].begin] != '/' || u[i + 2].kind != Piece::kWord) return false;
  std::string_view digits = q.substr(u[i + 2].begin, u[i + 2].end - u[i + 2].begin);
  for (char c : digits)
    if (!cp1250::IsDigit(static_cast<unsigned char>(c))) return false;
  unsigned long long value = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  (void)ptr;
  // A distance beyond any document is as good as the largest one.
  distance = ec != std::errc() || value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value);
  return true;
}

// The operand a unit makes, or false.
bool MakeOperand(std::string_view q, const Unit& u, ProximityOperand& op) {
  op = ProximityOperand{};
  if (u.kind == Piece::kWord) {
    std::string_view w = q.substr(u.begin, u.end - u.begin);
    if (w == "I" || w == "NIE" || w == "LUB" || !IsAcceptableOperand(w)) return false;
    op.words.emplace_back(w);
    return true;
  }
  if (u.kind != Piece::kPhrase) return false;
  op.phrase = true;
  std::string_view text = PhraseText(q, u);
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && !IsTermByte(static_cast<unsigned char>(text[i])) && MarkersBeforeWord(text.substr(i)) == 0)
      ++i;
    std::size_t start = i;
    i += MarkersBeforeWord(text.substr(i));
    while (i < text.size() && IsTermByte(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) op.words.emplace_back(text.substr(start, i - start));
  }
  return !op.words.empty();
}

// Whether the index can tell which documents may hold the operand: a term,
// or a phrase with a plain word that the index keeps.
bool NamesIndexedWord(const ProximityOperand& op) {
  if (!op.phrase) return true;
  for (const std::string& w : op.words)
    if (!HasWildcard(w) && IsAdmitted(SplitMarkers(w).word)) return true;
  return false;
}

}  // namespace

std::string ProximityTerm(std::size_t n) { return kProximityPrefix + std::to_string(n); }

bool IsProximityTerm(std::string_view term, std::size_t& n) {
  const std::size_t prefix = sizeof kProximityPrefix - 1;
  if (term.size() <= prefix || term.substr(0, prefix) != kProximityPrefix) return false;
  auto [ptr, ec] = std::from_chars(term.data() + prefix, term.data() + term.size(), n);
  return ec == std::errc() && ptr == term.data() + term.size();
}

PreparedQuery PrepareQuery(const char* query) {
  PreparedQuery q;
  std::string upper(query);
  cp1250::UpperCase(upper.data(), upper.size());
  const std::string_view in(upper);
  const std::vector<Unit> units = Cut(in);

  // The proximities: operator units with an operand on each side, blanks
  // between. Units that take part get the proximity that replaces them.
  std::vector<std::size_t> replacedBy(units.size(), SIZE_MAX);
  std::vector<bool> isOperator(units.size(), false);
  std::vector<DWORD> distances(units.size(), 0);
  for (std::size_t i = 0; i < units.size(); ++i) isOperator[i] = IsOperatorAt(in, units, i, distances[i]);
  auto operatorPart = [&](std::size_t k) {
    return isOperator[k] || (k >= 1 && isOperator[k - 1]) || (k >= 2 && isOperator[k - 2]);
  };
  std::size_t chainEnd = 0;  // the last unit of the chain built last
  std::vector<std::pair<std::size_t, std::size_t>> chains;  // unit ranges [first, last]
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (!isOperator[i]) continue;
    std::size_t l = i;
    while (l > 0 && units[l - 1].kind == Piece::kSpace) --l;
    std::size_t r = i + 3;
    while (r < units.size() && units[r].kind == Piece::kSpace) ++r;
    if (l == 0 || r >= units.size()) continue;
    --l;
    if (operatorPart(l) || operatorPart(r)) continue;
    Proximity p;
    p.distance = distances[i];
    if (!MakeOperand(in, units[l], p.left) || !MakeOperand(in, units[r], p.right)) continue;
    if (!NamesIndexedWord(p.left) && !NamesIndexedWord(p.right)) continue;
    if (!chains.empty() && chainEnd == l) chains.back().second = r;  // Y of "X BLISKO/n Y BLISKO/m Z"
    else chains.push_back({l, r});
    chainEnd = r;
    for (std::size_t k = l; k <= r; ++k) replacedBy[k] = chains.size() - 1;
    q.proximities.push_back(std::move(p));
  }

  // The text: phrases joined, proximity chains as their terms joined by "I".
  std::string& out = q.text;
  out.reserve(in.size());
  std::size_t next = 0;  // number of the next proximity term
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Unit& u = units[i];
    if (replacedBy[i] != SIZE_MAX) {
      const auto [first, last] = chains[replacedBy[i]];
      if (i != first) continue;
      // One term per operator of the chain, joined by the conjunction, and
      // blanks around, so that nothing beside them joins their token.
      bool firstTerm = true;
      for (std::size_t k = first; k <= last; ++k) {
        if (!isOperator[k]) continue;
        out += firstTerm ? " " : " I ";
        out += ProximityTerm(next++);
        firstTerm = false;
      }
      out += ' ';
      continue;
    }
    if (u.kind == Piece::kPhrase) {
      std::string_view phrase = PhraseText(in, u);
      q.phrases.emplace_back(phrase);
      AppendJoined(phrase, out);
    } else {
      out.append(in.substr(u.begin, u.end - u.begin));
    }
  }
  return q;
}

}  // namespace concorda
