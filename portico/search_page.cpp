// The Search page: acts selected by a range of journal references and,
// optionally, a word pattern; the complete result list of each query is kept
// in the extension's result cache, and one page of it is written as a list
// of links with a script that fetches the next page. A pattern that asks for
// more work than a query may cost (concorda::QueryLimits) gets a page that
// says so instead of a list; nothing of it is cached.
#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "portico/doc_list.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/range_cache.h"
#include "portico/request.h"
#include "portico/result_items.h"
#include "portico/search_cache.h"
#include "portico/search_fragments.h"
#include "portico/search_query.h"

namespace portico {

namespace {

constexpr char kNothingFound[] = "Nie znaleziono żadnych dokumentów";
constexpr char kTooComplex[] =
    "Zapytanie jest zbyt złożone, by je wykonać. Uprość je (mniej wyrazów, wzorców z * i ? lub fraz) i spróbuj ponownie";

// The complete, ascending result list of a query; false when the word
// pattern passed the limits of a query.
bool RunSearch(CPorticoExtension& extension, const SearchFields& fields, std::vector<DWORD>& result) {
  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  const CRangeCache::Range range = extension.RangeCache().Get(catalogue, fields);
  // Nothing in range: the word query could only be intersected away.
  if (fields.strPattern.empty() || range->Sorted().empty()) {
    result = range->Sorted();
    return true;
  }

  std::vector<DWORD> hits;
  if (!FindWordItems(catalogue, WordQuery(fields), hits)) return false;
  // Every item of both lists, as often as it occurs in the list where it is
  // rarer, ascending.
  result = range->Intersect(hits);
  return true;
}

}  // namespace

CSearchCache::List SearchResults(CPorticoExtension& extension, std::string_view arguments) {
  const std::string query = CacheQuery(arguments);
  CSearchCache& cache = extension.SearchCache();
  CSearchCache::List results = cache.Find(query);
  if (!results) {
    std::vector<DWORD> found;
    if (!RunSearch(extension, ParseSearchFields(arguments), found)) return nullptr;
    results = std::make_shared<const std::vector<DWORD>>(std::move(found));
    cache.Store(query, results);
  }
  return results;
}

DWORD SearchPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const SearchFields fields = ParseSearchFields(arguments);
  CSearchCache::List results = SearchResults(extension, arguments);
  if (!results) {
    extension.WaitReady();
    WriteDocList(extension, request, {}, "", kTooComplex, nullptr);
    RunEpilogue(request);
    return HSE_STATUS_SUCCESS;
  }

  const std::size_t total = results->size();
  const ResultPage page = PageOf(fields, total);
  std::vector<DWORD> items;
  if (page.first < page.end) items.assign(results->begin() + page.first, results->begin() + page.end);
  const std::string trailer = NextPageTrailer(arguments, fields, total, page);

  extension.WaitReady();
  std::function<std::string(DWORD)> fragment;
  std::unique_ptr<CSearchFragments> fragments;
  if (fields.bFragments && !fields.strPattern.empty() && !items.empty()) {
    fragments = std::make_unique<CSearchFragments>(extension.Main(), WordQuery(fields));
    fragment = [&fragments](DWORD item) { return fragments->Of(item); };
  }
  WriteDocList(extension, request, items, ResultsHeader(total, page), kNothingFound,
               trailer.empty() ? nullptr : trailer.c_str(), fragment);
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
