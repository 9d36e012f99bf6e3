// The PartOr page: the court rulings attached to parts of acts, copied into
// one page from rulings documents. The argument string lists pairs of a
// document (item designation) and an anchor: doc1&anchor1&doc2&anchor2...;
// each anchor names a ruling, the text between the first "<!--BEGIN-->"
// and "<!--END-->" behind its "<A NAME="anchor"" tag. The ruling icons of
// the Topic page link here.
#include <cstring>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kNoRulings[] = "Brak orzeczeń";
constexpr char kTooManyRulings[] = "Zbyt wiele orzeczeń w jednym żądaniu";
// The ruling icons of the Topic page join the pairs of one place up to about
// 2 KB (kMaxMergedText, ruling_markers.h), at least four bytes a pair: no
// link the pages write asks for more.
constexpr std::size_t kMaxRulingPairs = 512;
constexpr char kAnchorTag[] = "<A NAME=\"";
constexpr char kBegin[] = "<!--BEGIN-->";
constexpr char kEnd[] = "<!--END-->";

struct Wanted {
  std::string strDocument;  // decimal index text
  std::string strAnchors;   // one anchor, or several joined by "&"
  std::size_t nOrder;       // place in the request
};

// Byte-wise by document text ("10" before "9"); pairs of one document keep
// the order of the request, so their sections do too.
int CompareWanted(const void* a, const void* b) {
  const Wanted* x = *static_cast<const Wanted* const*>(a);
  const Wanted* y = *static_cast<const Wanted* const*>(b);
  int c = std::strcmp(x->strDocument.c_str(), y->strDocument.c_str());
  if (c != 0) return c;
  return x->nOrder < y->nOrder ? -1 : x->nOrder > y->nOrder ? 1 : 0;
}

// The pairs of the request; false when there are more than kMaxRulingPairs
// (the rest is not read).
bool ParsePairs(const CPorticoExtension& extension, std::string_view rest, std::vector<Wanted>& pairs) {
  for (std::size_t amp = rest.find('&'); amp != npos; amp = rest.find('&')) {
    if (pairs.size() == kMaxRulingPairs) return false;
    std::string_view document = rest.substr(0, amp);
    rest.remove_prefix(amp + 1);
    std::size_t next = rest.find('&');
    std::string_view anchor = rest.substr(0, next);
    rest = next == npos ? std::string_view() : rest.substr(next + 1);
    std::string text = ParseDesignation(document).bIndex ? std::string(document)
                                                         : Decimal(ResolveDesignation(extension, document));
    pairs.push_back({std::move(text), std::string(anchor), pairs.size()});
  }
  return true;
}

// The places of a rulings document that anchors are looked up in, found in
// one pass each: every anchor tag by its name, and every BEGIN and END marker.
class CRulingsIndex {
 public:
  explicit CRulingsIndex(std::string_view text) : m_text(text) {
    const std::size_t tagSize = sizeof kAnchorTag - 1;
    for (std::size_t at = m_text.find(kAnchorTag); at != npos; at = m_text.find(kAnchorTag, at + 1)) {
      const std::size_t name = at + tagSize;
      const std::size_t quote = m_text.find('"', name);
      if (quote == npos) break;  // no tag behind this one can close its name either
      m_tags[m_text.substr(name, quote - name)].push_back(at);
    }
    Collect(kBegin, m_begins);
    Collect(kEnd, m_ends);
  }

  enum class Found { kNoTag, kNoSection, kSection };
  // The section of an anchor: what the first "<!--BEGIN-->" behind the
  // first tag `<A NAME="anchor"` and the first "<!--END-->" behind that hold.
  Found Section(std::string_view anchor, std::string_view& section) const {
    // A name ends at its first quote: an anchor holding a quote is found
    // among the tags whose name is its part before the quote.
    const std::size_t quote = anchor.find('"');
    auto tags = m_tags.find(anchor.substr(0, quote));
    if (tags == m_tags.end()) return Found::kNoTag;
    const std::string tag = kAnchorTag + std::string(anchor) + "\"";
    for (std::size_t at : tags->second) {
      if (m_text.compare(at, tag.size(), tag) != 0) continue;
      const std::size_t begin = After(m_begins, at + tag.size());
      const std::size_t end = begin == npos ? npos : After(m_ends, begin + sizeof kBegin - 1);
      if (end == npos) return Found::kNoSection;
      const std::size_t from = begin + sizeof kBegin - 1;
      section = m_text.substr(from, end - from);
      return Found::kSection;
    }
    return Found::kNoTag;
  }

 private:
  void Collect(std::string_view marker, std::vector<std::size_t>& out) const {
    for (std::size_t at = m_text.find(marker); at != npos; at = m_text.find(marker, at + 1)) out.push_back(at);
  }
  // The first place in `places` at or after `from`, or npos.
  static std::size_t After(const std::vector<std::size_t>& places, std::size_t from) {
    auto it = std::lower_bound(places.begin(), places.end(), from);
    return it == places.end() ? npos : *it;
  }

  std::string_view m_text;
  std::unordered_map<std::string_view, std::vector<std::size_t>> m_tags;
  std::vector<std::size_t> m_begins;
  std::vector<std::size_t> m_ends;
};

// The sections of the anchors of one document, separated by "<HR>".
std::string RulingsBlock(const CPorticoExtension& extension, const Wanted& pair) {
  const std::int32_t index = DecimalValue(pair.strDocument);
  extension.WaitReady();
  CPageText text;
  if (index < 0 || !ReadItem(extension.Main(), static_cast<DWORD>(index), 0, text)) return {};
  text.CutAtZero();
  const CRulingsIndex rulings(text.View());

  std::string block;
  int sections = 0;
  std::string_view anchors = pair.strAnchors;
  while (true) {
    std::size_t amp = anchors.find('&');
    std::string_view anchor = anchors.substr(0, amp);
    if (anchor.empty()) break;
    // The anchor as sent; then decoded, since browsers send the blanks of a
    // signature ("III CZP 1/10") as %20.
    std::string_view section;
    CRulingsIndex::Found found = rulings.Section(anchor, section);
    if (found == CRulingsIndex::Found::kNoTag) found = rulings.Section(PercentDecode(anchor, false), section);
    if (found == CRulingsIndex::Found::kSection) {
      if (sections++ > 0) block += "<HR>";
      block.append(section);
    }
    if (amp == npos) break;
    anchors.remove_prefix(amp + 1);
  }
  return block;
}

}  // namespace

DWORD PartOrPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  std::vector<Wanted> pairs;
  const bool bounded = ParsePairs(extension, arguments, pairs);
  std::string body;
  if (!bounded) {
    body = kTooManyRulings;
  } else if (pairs.empty()) {
    body = kNoRulings;
  } else {
    std::vector<Wanted*> order;
    for (Wanted& w : pairs) order.push_back(&w);
    CSrvSrv::qsort(order.data(), order.size(), sizeof(Wanted*), CompareWanted);
    // One pair per document, its anchors in sorted order.
    std::vector<Wanted*> merged;
    for (Wanted* w : order) {
      if (!merged.empty() && merged.back()->strDocument == w->strDocument)
        merged.back()->strAnchors += "&" + w->strAnchors;
      else
        merged.push_back(w);
    }
    for (const Wanted* w : merged) {
      if (!body.empty()) body += "<HR>";
      body += RulingsBlock(extension, *w);
    }
  }
  request.Write(
      "<HTML><HEAD><META  HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n"
      "</HEAD><TITLE>Orzeczenia</TITLE><BODY BGCOLOR=#FFFFFF>" + body + "</BODY></HTML>");
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
