// Which words of the word table a query term stands for. A term without
// wildcards is one word; "US*" and "US*WA" take the words that begin with the
// text before the first wildcard; "*AWA" the words that end with the text
// after the last wildcard (through the suffix index); "*TAW*" every word. The
// wildcard forms then keep only the words that pass the pattern test.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "concorda/query_budget.h"
#include "concorda/word_index.h"

namespace concorda {

// Appends to `out` the positions in `table` of the words of `term`.
// `suffixIndex` is asked for the suffix index only when the term needs it.
// With a budget, long walks check its time (and may throw CQueryOverBudget).
void FindTermWords(const CWordTable& table, const std::function<const std::vector<DWORD>&()>& suffixIndex,
                   const std::string& term, std::vector<std::size_t>& out, const CQueryBudget* budget = nullptr);

// Whether `term` stands for `word` (what FindTermWords would take it for).
bool TermNamesWord(const std::string& term, std::string_view word);

// True when finding the words of `term` walks the whole word table
// (wildcards at both ends).
bool ScansWholeTable(const std::string& term);

}  // namespace concorda
