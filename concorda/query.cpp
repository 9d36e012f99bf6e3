#include "concorda/query.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

void UniteWith(ItemSet& r, const ItemSet& s) {
  if (s.empty()) return;
  if (r.empty()) {
    r = s;
    return;
  }
  ItemSet out;
  out.reserve(r.size() + s.size());
  std::set_union(r.begin(), r.end(), s.begin(), s.end(), std::back_inserter(out));
  r.swap(out);
}

void IntersectWith(ItemSet& r, const ItemSet& s) {
  ItemSet out;
  std::set_intersection(r.begin(), r.end(), s.begin(), s.end(), std::back_inserter(out));
  r.swap(out);
}

void Subtract(ItemSet& r, const ItemSet& s) {
  if (r.empty() || s.empty()) return;
  ItemSet out;
  std::set_difference(r.begin(), r.end(), s.begin(), s.end(), std::back_inserter(out));
  r.swap(out);
}

void AddItems(ItemSet& r, std::vector<DWORD>& items) {
  if (items.empty()) return;
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  UniteWith(r, items);
}

PreparedQuery PrepareQuery(const char* query) {
  PreparedQuery q;
  std::string& buf = q.text;
  buf = query;
  cp1250::UpperCase(buf.data(), buf.size());
  std::size_t pos = 0;
  for (;;) {
    std::size_t open = buf.find('"', pos);
    if (open == std::string::npos) break;
    buf.erase(open, 1);
    std::size_t end = buf.find('"', open);
    if (end == std::string::npos) end = buf.size();
    else buf.erase(end, 1);
    q.phrases.push_back(buf.substr(open, end - open));
    // Join the words of the phrase with the conjunction.
    std::size_t i = open;
    while (i < end && cp1250::IsSpace(static_cast<unsigned char>(buf[i]))) ++i;
    for (; i < end; ++i) {
      if (cp1250::IsSpace(static_cast<unsigned char>(buf[i]))) {
        buf.insert(i + 1, "I ");
        i += 2;
        end += 2;
      }
    }
    pos = end;
  }
  return q;
}

namespace {

bool IsTokenChar(unsigned char c) { return IsWordChar(c) || c == '*' || c == '?'; }

}  // namespace

std::string_view NextQueryToken(std::string_view& rest) {
  for (;;) {
    std::size_t i = 0;
    while (i < rest.size()) {
      unsigned char c = static_cast<unsigned char>(rest[i]);
      if (IsTokenChar(c) || c == '(') break;
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
  std::size_t n = 0;
  while (n < rest.size() && IsTokenChar(static_cast<unsigned char>(rest[n]))) ++n;
  std::string_view token = rest.substr(0, n);
  rest.remove_prefix(n);
  return token;
}

bool IsAcceptableOperand(std::string_view token) {
  if (token.empty()) return false;
  if (cp1250::IsDigit(static_cast<unsigned char>(token[0]))) return true;
  return token.size() > 1 && !IsStopWord(token);
}

ItemSet CQueryEvaluator::Evaluate(std::string_view text, int depth) {
  ItemSet r;
  if (depth > kMaxQueryDepth) return r;
  std::string_view rest = text;
  for (;;) {
    std::string_view token = NextQueryToken(rest);
    if (token.empty()) break;
    if (token == "NIE" || token == "I") {
      std::string_view operand = NextQueryToken(rest);
      if (!IsAcceptableOperand(operand)) continue;
      ItemSet s = Evaluate(operand, depth + 1);
      if (token == "NIE") Subtract(r, s);
      else IntersectWith(r, s);
    } else if (token[0] == '(') {
      UniteWith(r, Evaluate(token.substr(1), depth + 1));
    } else if (IsAcceptableOperand(token)) {
      AddTermDocs(std::string(token), r);
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
