// Phrases decided from the positions file instead of the documents' bytes,
// with exactly the result of the byte scan (query.h, ContainsPhrase).
//
// A phrase of whole words joined by single blanks ("KODEKS PRACY") can only
// match the raw bytes inside a run of word bytes and blanks; the positions
// file knows those runs as words and markup pieces joined by single blanks.
// The scan's rules then read: the first phrase word is the end of a word,
// the middle ones are whole words, the last one is the beginning of a word,
// each joined to the next (a phrase of one word is any part of a word).
// Letters compare as their upper case, which is what the partner rule of
// the scan gives for the letters of windows-1250 (checked byte by byte when
// the tables are built). A word with tags between its letters is several
// pieces, whose lengths the file keeps. A digit of a phrase also matches the
// capital letter 0x20 above it, which the upper-cased words cannot tell from
// the small one: such places are undecided, and those documents alone are
// read and scanned. A phrase with
// any other byte (punctuation, two blanks) is left to the scan.
#pragma once

#include <string>
#include <vector>

#include "concorda/positions_file.h"
#include "concorda/query.h"
#include "concorda/query_budget.h"

namespace concorda {

// The words of a phrase when the positions can decide it; false when only
// the scan can (then `words` is empty).
bool PositionalPhraseWords(const std::string& phrase, std::vector<std::string>& words);

enum class PhraseVerdict { kNo, kYes, kUndecided };

// Decides one phrase for each candidate document (ascending slots) from the
// positions: `verdicts[i]` for candidates[i]. The words looked up are
// charged to the budget as words matched by wildcards. Throws
// CPositionsDamaged when the file proves damaged, CQueryOverBudget.
void DecidePhrase(const CPositionsFile& file, const std::vector<std::string>& words, const ItemSet& candidates,
                  CQueryBudget& budget, std::vector<PhraseVerdict>& verdicts);

}  // namespace concorda
