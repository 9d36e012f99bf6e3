// The document-list page: a list of links to the Topic pages of items, each
// captioned with the item's title. LinkedDoc writes related acts with it;
// the Search page writes its results with it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/windows_types.h"

namespace portico {

class CPorticoExtension;
class CRequest;

// Writes a complete page for the items (combined indices), in order: the
// header text and one entry per readable item, or `emptyText` when the list
// is empty; then the trailer (may be null) and the closing tags. Items that
// cannot be read are left out. Each piece goes to the client as it is made
// (the page's head declares the code page itself). Returns the last piece
// written. The caller has waited for the ready signal. `below`, when given,
// makes HTML shown under an item's title (the Search page's fragments); an
// entry for which it makes nothing is written as without it.
std::string WriteDocList(const CPorticoExtension& extension, CRequest& request, const std::vector<DWORD>& items,
                         const std::string& header, const std::string& emptyText, const char* trailer,
                         const std::function<std::string(DWORD)>& below = nullptr);

}  // namespace portico
