// The document text of the Topic page and what is read from it: Fetch (the
// document as shown, comments removed and frameset links turned into Topic
// links), the navigation line (also the source of the button bar), and the
// synchronisation name of the contents tree. topic_page.cpp writes the page;
// line_page.cpp and the footer pages read through here as well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "portico/document.h"

class CSrvSrv;

namespace portico {

class CPorticoExtension;

// The document of a designation's index, as the Topic page shows it:
//  - index >= 0: the catalogue item, read whole, cut at its first zero byte,
//    comments removed, frameset links rewritten; the not-found page when the
//    item is missing or empty. *navigationLine (when given) receives the
//    item's navigation line, read from the same text before its comments go.
//  - -1, -2, -4, -5: the static page of the installation directory, as
//    stored (throws CFileException when it cannot be opened).
//  - other negative indexes: the not-found page.
CPageText Fetch(const CPorticoExtension& extension, std::int32_t index, std::string* navigationLine = nullptr);

// The navigation line of an index (the "<!--LINE" comment of the stored
// document plus the rulings token; "Search@ Home@" without a comment; fixed
// lines for the search and home pages). Reads the item itself.
std::string NavigationLine(const CPorticoExtension& extension, std::int32_t index);
// The navigation line of a stored document text (not yet stripped of its
// comments) whose stored item name is `storedName`.
std::string NavigationLineOf(const CSrvSrv& catalogue, std::string_view storedText, const std::string& storedName);
// The value of a navigation line key such as "NOTES=": the text behind its
// first occurrence up to the next "@" (empty without one). Case-sensitive.
// Nothing when the key is absent.
std::optional<std::string> NavigationValue(std::string_view line, std::string_view key);

// The contents-tree name of a NOTES value (upper case): both number fields
// widened to eight digits, ABC123D01456 -> ABC00000123D0100000456. Nothing
// when the value has no journal letter behind its third character; a letter
// near the end gets the second field's zeros at the end (ABC12D ->
// ABC000012D0000).
std::optional<std::string> SynchronisationName(std::string_view notes);

// Rewrites, in place and without changing the length, every link tag whose
// reference contains "MAIN" and that carries a target: the target is
// blanked and "MAIN" becomes "Topic", so the link opens the document page
// in the current frame instead of a new frameset.
void RewriteLinks(CPageText& text);

// Position of the journal letter in an upper-case item name: the last "D",
// or the last "M" when that "D" stands before position 2; npos when none.
std::size_t JournalLetterPosition(std::string_view upperName);

}  // namespace portico
