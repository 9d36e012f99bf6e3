// The contents reader: a document's own table of contents, stored as a page
// inside its "<!--TOC" comment, with its links retargeted to the document's
// Topic page. The TOC page shows it in the contents frame; the contents tree
// turns it into tree lines.
#pragma once

#include <cstdint>

#include "portico/document.h"

namespace portico {

class CPorticoExtension;

// Only the beginning of a document is read for its contents.
constexpr DWORD kContentsReadLimit = 40000;

// The contents page of item `index`: the text between "<!--TOC" and the next
// "-->" (or the end of what was read) in the text that the item's first
// kContentsReadLimit stored bytes yield, every "?Topic&x#anchor" link turned
// into "?Topic&<index>#anchor". The not-found page (93 bytes) when the item
// is missing, empty or has no contents. Waits for the ready signal.
CPageText ReadContents(const CPorticoExtension& extension, std::int32_t index);

}  // namespace portico
