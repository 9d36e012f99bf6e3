// The TOC page and the contents reader.
#include <string>

#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/toc.h"

namespace portico {

namespace {

constexpr char kTocMark[] = "<!--TOC";
constexpr std::size_t kTocMarkLength = sizeof kTocMark - 1;
constexpr char kTopicLink[] = "?Topic&";
constexpr std::size_t kTopicLinkLength = sizeof kTopicLink - 1;
constexpr char kContentsBody[] =
    " BACKGROUND=\"gs.gif\" BGCOLOR=\"#E0FFE0\"  aLink=\"#FF0000\" vLink=\"#0000FF\" Link=\"#0000FF\"> <FONT SIZE=\"-2\">";

}  // namespace

CPageText ReadContents(const CPorticoExtension& extension, std::int32_t index) {
  extension.WaitReady();
  CPageText text;
  if (index < 0 || !ReadItem(extension.Main(), static_cast<DWORD>(index), kContentsReadLimit, text) || text.Empty())
    return CPageText::Copy(kNotFoundPage);
  std::string_view all = text.View();
  std::size_t mark = all.find(kTocMark);
  if (mark == npos) return CPageText::Copy(kNotFoundPage);
  std::size_t start = mark + kTocMarkLength;
  std::size_t end = all.find("-->", start);
  if (end == npos) end = all.size();

  // The links of the page all lead to this document.
  const std::string target = Decimal(index);
  std::string page(all.substr(start, end - start));
  for (std::size_t at = page.find(kTopicLink); at != std::string::npos; at = page.find(kTopicLink, at)) {
    std::size_t from = at + kTopicLinkLength;
    std::size_t hash = page.find('#', from);
    if (hash == std::string::npos) break;  // a link without an anchor stays as it is
    page.replace(from, hash - from, target);
    at = from + target.size();
  }
  return CPageText::Copy(page);
}

DWORD TocPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments);
  CPageText page = ReadContents(extension, index);
  std::string_view all = page.View();
  std::size_t body = all.find("<BODY>");
  if (body != npos) {
    WritePage(request, page.Data(), body + 5);
    request.Write(kContentsBody);
    request.Write(page.Data() + body + 6, all.size() - (body + 6));
  } else {
    request.Write(page.Data(), all.size());
  }
  page = CPageText();
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
