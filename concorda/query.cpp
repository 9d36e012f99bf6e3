#include "concorda/query.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>

#include "concorda/query_markers.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

// The three work in r's own memory where they can: a query's sets run to
// tens of thousands of items, and every new list is memory that malloc
// takes from the system a page at a time (about 10 us a page on the
// virtual machines we run on), and a list grown item by item is copied at
// every doubling.

void UniteWith(ItemSet& r, const ItemSet& s) {
  if (s.empty() || &r == &s) return;
  if (r.empty()) {
    r = s;
    return;
  }
  // Merged from the back into r made long enough for both: the place
  // written is never before the place of r read next. An item in both is
  // written once, which leaves a gap between r's untouched front and the
  // merged rest, closed at the end.
  std::size_t i = r.size(), j = s.size(), w = r.size() + s.size();
  r.resize(w);
  while (j > 0) {
    if (i > 0 && r[i - 1] >= s[j - 1]) {
      if (r[i - 1] == s[j - 1]) --j;
      r[--w] = r[--i];
    } else {
      r[--w] = s[--j];
    }
  }
  r.erase(r.begin() + static_cast<std::ptrdiff_t>(i), r.begin() + static_cast<std::ptrdiff_t>(w));
}

void IntersectWith(ItemSet& r, const ItemSet& s) {
  // The items kept are written over r from its front, never past the item read.
  std::size_t kept = 0, i = 0, j = 0;
  while (i < r.size() && j < s.size()) {
    if (r[i] < s[j]) {
      ++i;
    } else if (s[j] < r[i]) {
      ++j;
    } else {
      r[kept++] = r[i++];
      ++j;
    }
  }
  r.resize(kept);
}

void Subtract(ItemSet& r, const ItemSet& s) {
  if (r.empty() || s.empty()) return;
  if (&r == &s) {
    r.clear();
    return;
  }
  std::size_t kept = 0, j = 0;
  for (std::size_t i = 0; i < r.size(); ++i) {
    while (j < s.size() && s[j] < r[i]) ++j;
    if (j == s.size() || s[j] != r[i]) r[kept++] = r[i];
  }
  r.resize(kept);
}

void AddItems(ItemSet& r, std::vector<DWORD>& items) {
  if (items.empty()) return;
  // The items of one word's topic list come in order: checking is cheaper
  // than sorting them again.
  if (!std::is_sorted(items.begin(), items.end())) std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  if (r.empty()) r.swap(items);
  else UniteWith(r, items);
}

namespace {

bool IsTokenChar(unsigned char c) { return IsWordChar(c) || c == '*' || c == '?'; }

}  // namespace

std::string_view NextQueryToken(std::string_view& rest) {
  for (;;) {
    std::size_t i = 0;
    while (i < rest.size()) {
      unsigned char c = static_cast<unsigned char>(rest[i]);
      if (IsTokenChar(c) || c == '(' || (IsMarker(c) && MarkersBeforeWord(rest.substr(i)) > 0)) break;
      ++i;
    }
    rest.remove_prefix(i);
    if (rest.size() >= 3 && rest.substr(0, 3) == "LUB" &&
        (rest.size() == 3 || !IsWordChar(static_cast<unsigned char>(rest[3])))) {
      rest.remove_prefix(3);
      continue;
    }
    break;
  }
  if (rest.empty()) return rest;
  if (rest[0] == '(') {
    int nesting = 0;
    std::size_t i = 0;
    for (; i < rest.size(); ++i) {
      if (rest[i] == '(') ++nesting;
      else if (rest[i] == ')' && --nesting == 0) break;
    }
    std::string_view token = rest.substr(0, i);
    rest.remove_prefix(i < rest.size() ? i + 1 : i);
    return token;
  }
  std::size_t n = MarkersBeforeWord(rest);
  while (n < rest.size() && IsTokenChar(static_cast<unsigned char>(rest[n]))) ++n;
  std::string_view token = rest.substr(0, n);
  rest.remove_prefix(n);
  return token;
}

bool IsAcceptableOperand(std::string_view token) {
  token = SplitMarkers(token).word;  // "~umowa" is judged as "umowa"
  if (token.empty()) return false;
  if (cp1250::IsDigit(static_cast<unsigned char>(token[0]))) return true;
  return token.size() > 1 && !IsStopWord(token);
}

namespace {

bool IsOperator(std::string_view token) { return token == "NIE" || token == "I"; }

// Counts the tokens and the different terms of a query text the way the
// evaluator reads it.
void WalkShape(std::string_view text, int depth, CQueryBudget& budget, std::set<std::string, std::less<>>& terms) {
  if (depth > kMaxQueryDepth) return;
  auto term = [&](std::string_view token) {
    if (terms.find(token) != terms.end()) return;
    budget.ChargeTerm();
    terms.emplace(token);
  };
  std::string_view rest = text;
  for (;;) {
    std::string_view token = NextQueryToken(rest);
    if (token.empty()) return;
    budget.ChargeToken();
    if (IsOperator(token)) {
      std::string_view operand = NextQueryToken(rest);
      if (operand.empty()) return;
      budget.ChargeToken();
      if (!IsAcceptableOperand(operand)) continue;
      // The operand is evaluated as a query of its own (one level down),
      // whose only token it is: a group one level further, or a term.
      if (operand[0] == '(') {
        if (depth + 1 <= kMaxQueryDepth) WalkShape(operand.substr(1), depth + 2, budget, terms);
      } else if (depth + 1 <= kMaxQueryDepth) {
        term(operand);
      }
    } else if (token[0] == '(') {
      WalkShape(token.substr(1), depth + 1, budget, terms);
    } else if (IsAcceptableOperand(token)) {
      term(token);
    }
  }
}

}  // namespace

void ChargeQueryShape(const PreparedQuery& query, CQueryBudget& budget) {
  for (const std::string& phrase : query.phrases) budget.ChargePhrase(phrase.size());
  std::set<std::string, std::less<>> terms;
  WalkShape(query.text, 0, budget, terms);
}

const ItemSet& CQueryEvaluator::Term(std::string_view term) {
  auto it = m_terms.find(term);
  if (it == m_terms.end()) it = m_terms.emplace(std::string(term), TermDocs(std::string(term))).first;
  return it->second;
}

const ItemSet& CQueryEvaluator::Nested(std::string_view text, int depth) {
  std::pair<int, std::string> key(depth, text);
  auto it = m_nested.find(key);
  if (it == m_nested.end()) {
    ItemSet r = Evaluate(text, depth);
    it = m_nested.emplace(std::move(key), std::move(r)).first;
  }
  return it->second;
}

ItemSet CQueryEvaluator::Evaluate(std::string_view text, int depth) {
  ItemSet r;
  if (depth > kMaxQueryDepth) return r;
  // What r is known to be, by the texts of the sets it was combined with:
  // r holds all of each `includes` set, lies within each `within` set and
  // shares nothing with each `apart` set. Repeating such a step changes
  // nothing, and is skipped.
  std::set<std::string_view> includes, within, apart;
  std::string_view rest = text;
  for (std::size_t steps = 1;; ++steps) {
    if (steps % 64 == 0) m_budget.CheckTime();
    std::string_view token = NextQueryToken(rest);
    if (token.empty()) break;
    if (IsOperator(token)) {
      std::string_view operand = NextQueryToken(rest);
      if (!IsAcceptableOperand(operand)) continue;
      if (token == "NIE") {
        if (!apart.insert(operand).second) continue;
        Subtract(r, Nested(operand, depth + 1));
      } else {
        if (!within.insert(operand).second) continue;
        IntersectWith(r, Nested(operand, depth + 1));
      }
      includes.clear();
    } else if (token[0] == '(' || IsAcceptableOperand(token)) {
      if (!includes.insert(token).second) continue;
      UniteWith(r, token[0] == '(' ? Nested(token.substr(1), depth + 1) : Term(token));
      within.clear();
      apart.clear();
    }
  }
  return r;
}

bool HasWildcard(std::string_view term) { return term.find_first_of("*?") != std::string_view::npos; }

bool MatchPattern(const char* pattern, const char* word) {
  const char* p = pattern;
  const char* w = word;
  for (;;) {
    if (*p == '\0') return true;
    if (*p == '?') {
      if (*w == '\0') return false;
      ++p;
      ++w;
      continue;
    }
    if (*p == '*') {
      while (*p == '*') ++p;
      while (*p == '?') {
        if (*w == '\0') return false;
        ++p;
        ++w;
      }
      if (*p == '\0') return true;
      if (*p == '*') continue;  // "*?*": another run
      w = std::strchr(w, *p);
      if (!w) return false;
    }
    if (*p != *w) return false;
    ++p;
    ++w;
  }
}

namespace {

struct PartnerTable {
  BYTE partner[256];
  PartnerTable() {
    for (int p = 0; p < 256; ++p) {
      auto c = static_cast<unsigned char>(p);
      if (p >= 0x7B) {
        unsigned char up = cp1250::ToUpper(c);
        partner[p] = up != c ? up : cp1250::ToLower(c);
      } else if (p >= 0x5B) {
        partner[p] = static_cast<BYTE>(p - 0x20);
      } else {
        partner[p] = static_cast<BYTE>(p + 0x20);
      }
    }
  }
};

const PartnerTable& Partners() {
  static const PartnerTable table;
  return table;
}

}  // namespace

BYTE PhrasePartner(BYTE p) { return Partners().partner[p]; }

bool ContainsPhrase(const BYTE* content, std::size_t length, const std::string& phrase) {
  const std::size_t m = phrase.size();
  if (m == 0) return length > 0;
  if (m > length) return false;
  const BYTE* partner = Partners().partner;
  const auto* ph = reinterpret_cast<const BYTE*>(phrase.data());
  const BYTE first = ph[0];
  const BYTE firstAlt = partner[first];
  for (std::size_t i = 0; i + m <= length; ++i) {
    BYTE b = content[i];
    if (b != first && b != firstAlt) continue;
    std::size_t k = 1;
    for (; k < m; ++k) {
      BYTE c = content[i + k];
      if (c != ph[k] && c != partner[ph[k]]) break;
    }
    if (k == m) return true;
  }
  return false;
}

}  // namespace concorda
