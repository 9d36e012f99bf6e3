#include "portico/search_fragments.h"

#include <optional>

#include "biblion/srv_srv.h"
#include "concorda/query.h"
#include "concorda/query_markers.h"
#include "kasten/file_server.h"
#include "platform/message_box.h"
#include "portico/document.h"

namespace portico {

namespace {

// Stored bytes read before the whole document (0).
constexpr DWORD kPrefixLimits[] = {8 * 1024, 64 * 1024, 0};
// Terms a fragment looks for: every word of a document is matched against
// each, so a pattern of thousands of words would cost its page seconds.
// Real queries have a handful; the rest of a longer one is not shown in bold.
constexpr std::size_t kMaxFragmentTerms = 32;

}  // namespace

CSearchFragments::CSearchFragments(const CSrvSrv& catalogue, const std::string& wordQuery) : m_catalogue(catalogue) {
  const concorda::PreparedQuery prepared = concorda::PrepareQuery(wordQuery.c_str());
  for (const std::string& term : concorda::PositiveTerms(prepared.text)) {
    if (m_terms.Count() == kMaxFragmentTerms) break;
    const std::size_t t = m_terms.AddTerm();
    if (concorda::IsMarker(static_cast<unsigned char>(term[0]))) {
      for (std::string& word : catalogue.MarkedTermWords(term)) m_terms.AddWord(t, std::move(word));
    } else if (concorda::HasWildcard(term)) {
      m_terms.AddPattern(t, term);
    } else {
      m_terms.AddWord(t, term);
    }
  }
}

std::string CSearchFragments::Of(DWORD item) const {
  if (m_terms.Count() == 0) return {};
  for (DWORD limit : kPrefixLimits) {
    CPageText text;
    try {
      if (!ReadItem(m_catalogue, item, limit, text)) return {};
    } catch (const CException&) {
      return {};  // a damaged document shows its title only, as the list always did
    }
    const std::string_view raw = text.View();
    const bool whole = limit == 0;
    concorda::CDocWords words;
    words.Read(raw, whole);
    const std::vector<std::vector<DWORD>> occurrences = concorda::FindOccurrences(words, m_terms);
    const std::optional<concorda::FragmentPlace> place = concorda::ChoosePlace(occurrences, words.BodyStart());
    if (!place) {
      if (whole) return {};
      continue;
    }
    // A prefix will do when its place holds every term and the text behind
    // the place is read far enough to fill the fragment.
    std::size_t covered = 0;
    for (const std::vector<DWORD>& o : occurrences)
      for (DWORD at : o)
        if (at >= place->first && at <= place->last) {
          ++covered;
          break;
        }
    const bool enough = covered == m_terms.Count() && place->last + concorda::kFragmentContextWords < words.Count();
    if (whole || enough) return concorda::RenderFragment(raw, words, *place, m_terms);
  }
  return {};
}

}  // namespace portico
