// Ordering and intersecting the item lists of a search: the acts within the
// bounds of the form come in the order of the table of acts, often a hundred
// thousand and more of them, and sorting them took most of a search. The
// items of a catalogue are numbered densely from 0, so they are counted
// instead, in one pass; a list whose numbers are sparse, or whose items
// repeat too often to count in a byte, is sorted as before.
#pragma once

#include <vector>

#include "platform/windows_types.h"

namespace portico {

// Sorts `items` ascending; each item stays as often as it was.
void SortItems(std::vector<DWORD>& items);

// The items that both lists hold, ascending, each as often as in the list
// where it is rarer (what std::set_intersection gives for the two lists
// sorted). Either list may come in any order; `hits` is sorted on the way.
std::vector<DWORD> ItemsInBoth(const std::vector<DWORD>& range, std::vector<DWORD>& hits);

}  // namespace portico
