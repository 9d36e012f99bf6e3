// Proximity ("X BLISKO/n Y", query.h) decided for candidate documents, from
// the positions file or, when there is none to trust, from the documents
// themselves read and cut into words by the same tokenizer: both give the
// same answer. Only words count (markup pieces never do): a term stands
// where an indexed word it names stands, a phrase where its words stand in
// a row.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "concorda/positions_file.h"
#include "concorda/query.h"
#include "concorda/query_budget.h"

namespace concorda {

// Whether the two operands stand close enough, given for each word of each
// operand the ascending ordinals where it stands.
bool StandNear(const std::vector<std::vector<DWORD>>& left, const std::vector<std::vector<DWORD>>& right,
               DWORD distance);

// The candidates (ascending) where the proximity holds, from the positions.
// Throws CPositionsDamaged, CQueryOverBudget.
ItemSet ProximityFromFile(const CPositionsFile& file, const Proximity& p, const ItemSet& candidates,
                          CQueryBudget& budget);

// The same from the documents: `read(slot, bytes)` reads one (false: it
// cannot be read, and it is left out). Each read is charged to the budget.
ItemSet ProximityFromDocuments(const Proximity& p, const ItemSet& candidates,
                               const std::function<bool(DWORD, std::string&)>& read, CQueryBudget& budget);

}  // namespace concorda
