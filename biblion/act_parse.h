// Reading the table-of-acts entry of one document: the references its item
// name gives and the journal numbers its title cites. Used by `CSrvSrv` when
// it builds the table and by `GetTitle`; everything works on bounded views
// and never reads outside the bytes it is given.
#pragma once

#include <cstddef>
#include <string_view>

#include "biblion/rnp.h"

namespace biblion {

// The references an item name gives, numbers still 0. The last component of
// the name (after the last '\'), upper-cased and cut at its last '.', reads
//   letter T1, two digits Y1, digits P1 [, letter T2, two digits Y2, digits P2]
// e.g. "DU\D97034D98012.HTM": first (D, 97, position 34), second (D, 98, 12).
// A second part of one letter alone gives that letter's kind with year 0
// and position 0 ("D97483O", the list of the rulings on act D97483); a
// second part that is missing or otherwise lacks its two year digits gives
// kind 15, year 0, position 0.
// False (the item gives no entry): an image (extension JPG or GIF) or a name
// whose first part lacks its two year digits.
bool ParseItemName(std::string_view name, _RNP& first, _RNP& second);

// The text of a document as read for the table: the decoded bytes with the
// last one given up for the terminating NUL, up to the first NUL.
std::string_view TerminatedText(const BYTE* data, std::size_t length);

// The title of an HTML text: after leading white space the text must start
// with "<HTM" (either case); the first TITLE tag (either case) is followed by
// '>' and the title runs to the next "</". Anything else: an empty title.
std::string_view ExtractTitle(std::string_view text);

// Puts the journal numbers that the title cites into the references.
// The earlier of the first "Dz.U." and the first "M.P." (either case) is the
// act's citation; its number text lies between the second and the third '.'
// from its last letter on (or the end of the title): "Dz.U.97.12.34" gives
// 12, "Dz.U. z 1997 r. Nr 78, poz. 483" gives 78 with the prefix flag.
// An amendment (the second reference names another year or position) takes
// its number from a further citation, or 1 when there is none; otherwise the
// second reference takes the act's number and flag. A title without any
// citation (or an empty one) leaves both numbers 0; a citation without a
// number text gives number 0.
void ApplyCitations(std::string_view title, _RNP& first, _RNP& second);

// The entry of one document from its item name and text; false when the
// item gives none (see ParseItemName).
bool MakeActEntry(std::string_view name, std::string_view text, DWORD combinedIndex, ActEntry& entry);

}  // namespace biblion
