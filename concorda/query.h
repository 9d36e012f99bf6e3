// The word query language of the document index, apart from the index
// itself: quoted phrases, the operators "NIE" (not) and "I" (and), groups in
// parentheses, the no-op "LUB", the wildcard pattern test and the phrase
// comparison against raw document bytes. CDocServer::FindFirstDoc supplies
// the documents of single terms (CQueryEvaluator::AddTermDocs).
//
// There is no precedence: operators apply left to right to the result built
// so far, and words in a row are alternatives ("X I Y Z" = (X and Y) or Z).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "concorda/query_budget.h"
#include "platform/windows_types.h"

namespace concorda {

// A result set: item indices, ascending, without duplicates.
using ItemSet = std::vector<DWORD>;

void UniteWith(ItemSet& r, const ItemSet& s);      // r = r or s
void IntersectWith(ItemSet& r, const ItemSet& s);  // r = r and s
void Subtract(ItemSet& r, const ItemSet& s);       // r = r and not s
// Adds unsorted items (duplicates allowed) to r; `items` is used up.
void AddItems(ItemSet& r, std::vector<DWORD>& items);

// One side of a proximity ("X BLISKO/n Y"): a term (a word, wildcards
// allowed) or the words of a phrase, upper-case.
struct ProximityOperand {
  std::vector<std::string> words;
  bool phrase = false;
  // Set for one base when words carry markers (query_markers.h): a marked
  // word k stands for the words *expanded[k] (ascending) of that base.
  std::vector<std::optional<std::vector<std::string>>> expanded;
};
// Documents where an occurrence of `left` and one of `right` stand at most
// `distance` words apart, in either order (words standing between them are
// counted; neighbours are 0 apart). Occurrences that share a word do not
// count. A term is a word of the index (wildcards as in queries); a phrase
// is its words in a row, whatever stands between them in the bytes.
struct Proximity {
  ProximityOperand left, right;
  DWORD distance = 0;
};

// A query after its quoted phrases were taken out: the text to evaluate (the
// words of each phrase joined by "I"), the phrases (upper-cased) that the
// documents found must contain, and the proximities, which stand in the
// text as terms of their own (ProximityTerm).
struct PreparedQuery {
  std::string text;
  std::vector<std::string> phrases;
  std::vector<Proximity> proximities;
};
// Upper-cases the query, rewrites its phrases and takes out its
// proximities, in one pass over it. An unclosed quote runs to the end of
// the query. "X BLISKO/n Y" is a proximity when X and Y are words (not I,
// NIE or LUB; acceptable as operands) or phrases, separated from the
// operator by blanks only, and one of them names a word of the index;
// "X BLISKO/3 Y BLISKO/2 Z" is X near Y and Y near Z. Anywhere else BLISKO
// is the word it always was.
PreparedQuery PrepareQuery(const char* query);

// The term that stands for proximity n in a prepared text ("blisko0"). It
// is in small letters, which an upper-cased query never holds.
std::string ProximityTerm(std::size_t n);
// The number of a proximity term; false for any other term.
bool IsProximityTerm(std::string_view term, std::size_t& n);

// Charges what the text of a prepared query asks for to the budget, before
// any base is asked: its tokens (groups included), its different terms and
// its phrases. Throws CQueryOverBudget.
void ChargeQueryShape(const PreparedQuery& query, CQueryBudget& budget);

// Takes the next token off the front of `rest` (upper-case text): a word
// (letters, digits, '*' and '?', with the markers of query_markers.h that
// stand directly before it), or a group "(inner" whose closing ')' is
// consumed but not part of the token. "LUB" standing alone is skipped. An
// empty token means the end of the query.
std::string_view NextQueryToken(std::string_view& rest);

// An operand of "NIE" or "I" counts when it starts with a digit, or is longer
// than one byte and is not a stop word.
// Markers before a word are not counted.
bool IsAcceptableOperand(std::string_view token);

// Groups nested deeper than this are not evaluated (they find nothing), so a
// hostile query cannot exhaust the stack.
constexpr int kMaxQueryDepth = 64;

// Evaluates query texts against one index. Repeated work is done once per
// evaluator: a term's documents are looked up once however often it stands
// in the query, a group or operand text is evaluated once, and a step that
// cannot change the result (uniting a set that was already united, and
// intersecting or subtracting one again) is skipped, so that a query made of
// one term repeated thousands of times costs what the term costs.
class CQueryEvaluator {
 public:
  explicit CQueryEvaluator(CQueryBudget& budget) : m_budget(budget) {}
  virtual ~CQueryEvaluator() = default;
  // Evaluates an upper-cased query text without phrases (see PrepareQuery).
  // Throws CQueryOverBudget when the work passes the budget's time.
  ItemSet Evaluate(std::string_view text) { return Evaluate(text, 0); }

 protected:
  // The documents of one term (a word, possibly with '*' and '?'), ascending
  // and without duplicates. Asked once per different term.
  virtual ItemSet TermDocs(const std::string& term) = 0;
  CQueryBudget& Budget() { return m_budget; }
  // The documents of a term, looked up once per evaluator.
  const ItemSet& Term(std::string_view term);

 private:
  ItemSet Evaluate(std::string_view text, int depth);
  // The result of an operand or group text, computed once.
  const ItemSet& Nested(std::string_view text, int depth);

  CQueryBudget& m_budget;
  std::map<std::string, ItemSet, std::less<>> m_terms;
  std::map<std::pair<int, std::string>, ItemSet> m_nested;
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
