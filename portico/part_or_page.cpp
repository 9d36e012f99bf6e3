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

std::vector<Wanted> ParsePairs(const CPorticoExtension& extension, std::string_view rest) {
  std::vector<Wanted> pairs;
  for (std::size_t amp = rest.find('&'); amp != npos; amp = rest.find('&')) {
    std::string_view document = rest.substr(0, amp);
    rest.remove_prefix(amp + 1);
    std::size_t next = rest.find('&');
    std::string_view anchor = rest.substr(0, next);
    rest = next == npos ? std::string_view() : rest.substr(next + 1);
    std::string text = ParseDesignation(document).bIndex ? std::string(document)
                                                         : Decimal(ResolveDesignation(extension, document));
    pairs.push_back({std::move(text), std::string(anchor), pairs.size()});
  }
  return pairs;
}

// The sections of the anchors of one document, separated by "<HR>".
std::string RulingsBlock(const CPorticoExtension& extension, const Wanted& pair) {
  const std::int32_t index = DecimalValue(pair.strDocument);
  extension.WaitReady();
  CPageText text;
  if (index < 0 || !ReadItem(extension.Main(), static_cast<DWORD>(index), 0, text)) return {};
  text.CutAtZero();
  const std::string_view all = text.View();

  std::string block;
  int sections = 0;
  std::string_view anchors = pair.strAnchors;
  while (true) {
    std::size_t amp = anchors.find('&');
    std::string_view anchor = anchors.substr(0, amp);
    if (anchor.empty()) break;
    // The anchor as sent; then decoded, since browsers send the blanks of a
    // signature ("III CZP 1/10") as %20.
    std::string tag = "<A NAME=\"" + std::string(anchor) + "\"";
    std::size_t at = all.find(tag);
    if (at == npos) {
      tag = "<A NAME=\"" + PercentDecode(anchor, false) + "\"";
      at = all.find(tag);
    }
    std::size_t begin = at == npos ? npos : all.find(kBegin, at + tag.size());
    std::size_t end = begin == npos ? npos : all.find(kEnd, begin + sizeof kBegin - 1);
    if (end != npos) {
      if (sections++ > 0) block += "<HR>";
      begin += sizeof kBegin - 1;
      block.append(all.substr(begin, end - begin));
    }
    if (amp == npos) break;
    anchors.remove_prefix(amp + 1);
  }
  return block;
}

}  // namespace

DWORD PartOrPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  std::vector<Wanted> pairs = ParsePairs(extension, arguments);
  std::string body;
  if (pairs.empty()) {
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
