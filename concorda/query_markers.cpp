#include "concorda/query_markers.h"

#include <algorithm>

#include "concorda/query.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

namespace {

bool IsTermByte(unsigned char c) { return IsWordChar(c) || c == '*' || c == '?'; }

bool EqualsUpper(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (cp1250::ToUpper(static_cast<unsigned char>(word[i])) != static_cast<unsigned char>(upper[i])) return false;
  return true;
}

void Collect(std::string_view text, int depth, bool negative, std::vector<std::string>& out) {
  if (depth > kMaxQueryDepth) return;
  std::string_view rest = text;
  for (;;) {
    std::string_view token = NextQueryToken(rest);
    if (token.empty()) return;
    if (token == "NIE" || token == "I") {
      std::string_view operand = NextQueryToken(rest);
      if (IsAcceptableOperand(operand)) Collect(operand, depth + 1, negative || token == "NIE", out);
    } else if (token[0] == '(') {
      Collect(token.substr(1), depth + 1, negative, out);
    } else if (!negative && IsAcceptableOperand(token) &&
               std::find(out.begin(), out.end(), token) == out.end()) {
      out.emplace_back(token);
    }
  }
}

}  // namespace

std::size_t MarkersBeforeWord(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && IsMarker(static_cast<unsigned char>(text[n]))) ++n;
  return n < text.size() && IsTermByte(static_cast<unsigned char>(text[n])) ? n : 0;
}

MarkedTerm SplitMarkers(std::string_view token) {
  MarkedTerm t;
  std::size_t i = 0;
  for (; i < token.size() && IsMarker(static_cast<unsigned char>(token[i])); ++i)
    (token[i] == kFormsMarker ? t.forms : t.fold) = true;
  t.word = token.substr(i);
  return t;
}

std::string MarkPlainWords(std::string_view pattern, bool forms, bool fold) {
  std::string out;
  out.reserve(pattern.size() + 16);
  bool quoted = false;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const auto c = static_cast<unsigned char>(pattern[i]);
    if (c == '"') quoted = !quoted;
    if (quoted || !IsTermByte(c)) {
      out += pattern[i++];
      continue;
    }
    std::size_t end = i;
    while (end < pattern.size() && IsTermByte(static_cast<unsigned char>(pattern[end]))) ++end;
    const std::string_view word = pattern.substr(i, end - i);
    // The markers written before it already (they are copied as they stand).
    bool hasForms = false, hasFold = false;
    for (std::size_t k = i; k > 0 && IsMarker(static_cast<unsigned char>(pattern[k - 1])); --k)
      (pattern[k - 1] == kFormsMarker ? hasForms : hasFold) = true;
    bool plain = !cp1250::IsDigit(static_cast<unsigned char>(word[0])) && !EqualsUpper(word, "I") &&
                 !EqualsUpper(word, "NIE") && !EqualsUpper(word, "LUB");
    if (EqualsUpper(word, "BLISKO") && end < pattern.size() && pattern[end] == '/') {
      plain = false;  // the operator and its distance
      ++end;
      while (end < pattern.size() && cp1250::IsDigit(static_cast<unsigned char>(pattern[end]))) ++end;
    }
    if (plain) {
      // Markers go directly before the word, behind any written already.
      if (forms && !hasForms && !HasWildcard(word)) out += kFormsMarker;
      if (fold && !hasFold) out += kFoldMarker;
    }
    out.append(pattern.substr(i, end - i));
    i = end;
  }
  return out;
}

std::vector<std::string> PositiveTerms(std::string_view text) {
  std::vector<std::string> out;
  Collect(text, 0, false, out);
  return out;
}

}  // namespace concorda
