// Ruling markers in the text of an act: the Topic page writes an act's body
// through WriteWithRulingMarkers, which finds the court rulings that concern
// the act (key: act prefix + "OO"), reads their references from the
// "<META KEYS=" tag of each ruling, turns them into location keys, sorts and
// merges them in document order, and places an icon linking to the PartOr
// page at each located heading while the body is written.
//
// Location keys: "A" (the whole act), "B" + article number + sub-parts
// ("B5", "B10UST2"), "C" + paragraph ("C3"), or a roman number behind the
// kind letter ("CIV").
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_types.h"

namespace portico {

class CPorticoExtension;
class CRequest;

struct RulingMarker {
  std::string key;   // location key
  std::string text;  // "<ruling index>&<value>", several joined by "&" after merging
};

// A range key ("B3-5") expands to at most this many entries; a longer range
// gets one entry, at its first number.
constexpr std::size_t kMaxRangeEntries = 1000;
// Merged ruling texts stop growing once they reach this length.
constexpr std::size_t kMaxMergedText = 2000;
// Only the beginning of a ruling is read for its references.
constexpr DWORD kRulingReadLimit = 20000;

// The prefix under which an act's rulings refer to it: the act's name (upper
// case, without directory) up to its journal letter; empty without one.
std::string ActPrefix(std::string_view storedName);

// The location key of a reference location ("ART.5" -> "B5", "O" -> "A").
std::string LocationKey(std::string_view location);

// Appends the entries of one key: one entry, or one per number of a range.
void AddMarkers(std::vector<RulingMarker>& list, const std::string& key, const std::string& text);

// Appends the entries that the references of one ruling (its text as read)
// make for the act prefix.
void ReadReferences(std::string_view rulingText, std::string_view prefix, DWORD rulingIndex,
                    std::vector<RulingMarker>& list);

// Document order of location keys: <0, 0, >0. A total order: keys compare
// equal only when they are the same bytes.
int CompareLocationKeys(std::string_view a, std::string_view b);

// Sorts the list by location (stable: rulings of one location keep their
// order) and merges the texts of equal locations up to kMaxMergedText.
void SortAndMerge(std::vector<RulingMarker>& list);

// Writes the body of act `act` (without its closing body tag) with the icons
// of its rulings; plain chunked writing when it has none.
void WriteWithRulingMarkers(const CPorticoExtension& extension, CRequest& request, const char* body,
                            std::size_t length, DWORD act);

// Places the markers while the body is written (ruling_locate.cpp). The body
// is written once, front to back: Locate writes the text from the position
// up to the place of a location and returns that place.
class CMarkerPlacer {
 public:
  CMarkerPlacer(CRequest& request, const char* body, std::size_t length);

  // Writes body[position, place) and returns the place of the key's
  // location; returns position, writing nothing, when it is not found.
  std::size_t Locate(const std::string& key, std::size_t position);
  // The location reached so far: heading, then up to two sub-units.
  const std::vector<std::string>& CurrentLocation() const { return m_location; }

 private:
  struct Heading;
  // The heading a key names: "A" the title, "B<n>..." an article, "C<n>..."
  // a paragraph, with the units behind the number in `rest`; false for
  // any other key.
  static bool ParseKey(const std::string& key, Heading& h);
  // The place behind the units of h.rest (a paragraph or section, then a
  // point, then a letter) from `place`, within the heading's part of the
  // body; npos when a unit of the first two levels is not there.
  std::size_t LocateUnits(const Heading& h, std::size_t place);
  std::size_t FindHeading(const Heading& h, std::size_t from);
  std::size_t NextHeading(const std::string& text, std::size_t from);
  std::size_t FindUnit(std::size_t start, const std::string& text, std::size_t end) const;
  bool AfterParagraphTag(std::size_t at) const;
  std::size_t PreviousNonBlank(std::size_t at) const;

  CRequest& m_request;
  std::string_view m_body;
  std::vector<std::string> m_location;
  // The starts of all paragraphs (behind "<P>"), found in one scan of the
  // body, and per heading text the paragraphs it starts: the body is not
  // searched again for each location (a location missing from the text
  // would otherwise cost a scan to the end of the body).
  std::vector<std::size_t> m_paragraphs;
  bool m_bParagraphsFound = false;
  std::map<std::string, std::vector<std::size_t>> m_headings;
};

}  // namespace portico
