// What the Search page reads from its argument string and writes around its
// result list: the search fields with their defaults and limits, the journal
// reference bounds given to the catalogue, the query text the result cache
// keeps, and the header line and next-page trailer of a result page.
// search_page.cpp runs the search; these are pure text operations.
//
// Fields are found by name anywhere in the argument string (case-sensitive,
// first occurrence); a value runs to the next "&". Numbers are leading signed
// decimals that saturate instead of overflowing, then limited:
//   Pattern=  word pattern, "%XX" and "+" decoded      (empty: no text condition)
//   Zmiany=   selection mode of amended acts           (0, passed on as it is)
//   TypyDoc=  0 both journals, 1 Dz.U., 2 M.P.         (other values select nothing)
//   OD= DO=   first and last year                      (0, 99; see ParseSearchFields)
//   ODP= DOP= first and last position                  (1, 2000; limited to 1..2000)
//   ODN= DON= first and last journal number            (1, 2000; limited to 1..2000)
//   Start=    1-based first result shown                (1; at least 1)
//   Length=   results shown                             (20; limited to 1..100)
//   Formy=1   every plain word of the pattern finds all its forms ("~word")
//   BezZnakow=1  every plain word finds the words that read alike without
//             diacritics ("^word")
//   Fragmenty=1  each result shows a fragment of its text around the words
// The three options are on only with the value 1 (what their checkboxes
// send); any other value leaves them off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "biblion/rnp.h"

namespace portico {

struct SearchFields {
  std::string strPattern;  // decoded, cut at a decoded zero byte
  std::int32_t nMode = 0;
  std::int32_t nJournals = 0;
  std::int32_t nFirstYear = 0;
  std::int32_t nLastYear = 99;
  std::int32_t nFirstPosition = 1;
  std::int32_t nLastPosition = 2000;
  std::int32_t nFirstNumber = 1;
  std::int32_t nLastNumber = 2000;
  std::int32_t nStart = 1;
  std::int32_t nLength = 20;
  bool bForms = false;
  bool bFold = false;
  bool bFragments = false;
};

// The word query of the fields: the pattern with the markers of the options
// put before its plain words (query_markers.h); the pattern as it is without them.
std::string WordQuery(const SearchFields& fields);

SearchFields ParseSearchFields(std::string_view arguments);

// The range of one journal (code 0 Dz.U., 1 M.P.) as the catalogue takes it.
// Each field keeps the bits that fit it: number 2000 is packed as 464.
void SearchBounds(const SearchFields& fields, DWORD journal, _RNP* lower, _RNP* upper);

// The query text of the result cache: the argument string without its first
// "&Start=" and its first "&Length=" field, so that the pages of one query
// share one cached list.
std::string CacheQuery(std::string_view arguments);

// The results of one page: [first, end) of `total` results.
struct ResultPage {
  std::size_t first = 0;
  std::size_t end = 0;
};
ResultPage PageOf(const SearchFields& fields, std::size_t total);

// "Dokumenty znalezione (57 pozycji) Wyświetlono od pozycji 1 do pozycji 20".
std::string ResultsHeader(std::size_t total, const ResultPage& page);

// The script and form that fetch the next page (the same query from end + 1,
// with a length field preset to what remains, at most the page length);
// empty when the page shows the last result.
std::string NextPageTrailer(std::string_view arguments, const SearchFields& fields, std::size_t total,
                            const ResultPage& page);

}  // namespace portico
