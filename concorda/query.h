// The word query language of the document index, apart from the index
// itself: quoted phrases, the operators "NIE" (not) and "I" (and), groups in
// parentheses, the no-op "LUB", the wildcard pattern test and the phrase
// comparison against raw document bytes. CDocServer::FindFirstDoc supplies
// the documents of single terms (CQueryEvaluator::AddTermDocs).
//
// There is no precedence: operators apply left to right to the result built
// so far, and words in a row are alternatives ("X I Y Z" = (X and Y) or Z).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"

namespace concorda {

// A result set: item indices, ascending, without duplicates.
using ItemSet = std::vector<DWORD>;

void UniteWith(ItemSet& r, const ItemSet& s);      // r = r or s
void IntersectWith(ItemSet& r, const ItemSet& s);  // r = r and s
void Subtract(ItemSet& r, const ItemSet& s);       // r = r and not s
// Adds unsorted items (duplicates allowed) to r.
void AddItems(ItemSet& r, std::vector<DWORD>& items);

// A query after its quoted phrases were taken out: the text to evaluate (the
// words of each phrase joined by "I") and the phrases (upper-cased) that the
// documents found must contain.
struct PreparedQuery {
  std::string text;
  std::vector<std::string> phrases;
};
// Upper-cases the query and rewrites its phrases. An unclosed quote runs to
// the end of the query.
PreparedQuery PrepareQuery(const char* query);

// Takes the next token off the front of `rest` (upper-case text): a word
// (letters, digits, '*' and '?'), or a group "(inner" whose closing ')' is
// consumed but not part of the token. "LUB" standing alone is skipped. An
// empty token means the end of the query.
std::string_view NextQueryToken(std::string_view& rest);

// An operand of "NIE" or "I" counts when it starts with a digit, or is longer
// than one byte and is not a stop word.
bool IsAcceptableOperand(std::string_view token);

// Groups nested deeper than this are not evaluated (they find nothing), so a
// hostile query cannot exhaust the stack.
constexpr int kMaxQueryDepth = 64;

class CQueryEvaluator {
 public:
  virtual ~CQueryEvaluator() = default;
  // Evaluates an upper-cased query text without phrases (see PrepareQuery).
  ItemSet Evaluate(std::string_view text) { return Evaluate(text, 0); }

 protected:
  // Adds the documents of one term (a word, possibly with '*' and '?') to r.
  virtual void AddTermDocs(const std::string& term, ItemSet& r) = 0;

 private:
  ItemSet Evaluate(std::string_view text, int depth);
};

// True when the term holds '*' or '?'.
bool HasWildcard(std::string_view term);
// The pattern test for wildcard terms, without backtracking: '?' takes one
// byte; a run of '*' (then any '?' after it) jumps to the first occurrence of
// the next literal byte; a pattern that is used up matches whatever remains.
// So "*AWA" does not match "ZAWIADAWA".
bool MatchPattern(const char* pattern, const char* word);

// Phrase comparison: a phrase byte p matches a content byte b when b is p or
// p's partner (the other letter case in windows-1250 for p >= 0x7B, p - 0x20
// for 0x5B..0x7A, p + 0x20 up to 0x5A). Markup is not skipped. An empty
// phrase is found in any content that is not empty.
bool ContainsPhrase(const BYTE* content, std::size_t length, const std::string& phrase);
BYTE PhrasePartner(BYTE p);

}  // namespace concorda
