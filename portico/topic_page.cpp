// The Topic page: one document in the text frame, with the frameset script
// behind its body tag, ruling icons in the text of acts, and the publisher
// footer before its closing body tag.
#include <algorithm>
#include <string>

#include "biblion/srv_srv.h"

#include "portico/extension.h"
#include "portico/page_cache.h"
#include "portico/pages.h"
#include "portico/reader_page.h"
#include "portico/request.h"
#include "portico/ruling_markers.h"
#include "portico/settings.h"
#include "portico/text.h"
#include "portico/topic.h"

namespace portico {

namespace {

// The closing body tag is looked for only this far from the end.
constexpr std::size_t kBodyEndWindow = 100;

std::string LinesFromNavigation(const std::string& navigationLine) {
  const std::string line = UpperCased(navigationLine);
  std::string lines;
  std::string synchronisation;
  if (auto notes = NavigationValue(line, "NOTES=")) {
    lines += "window.top.urlNotes=\"" + *notes + "\";\r\n";
    synchronisation = *notes;
  }
  if (auto synchro = NavigationValue(line, "SYNCHRO=")) {
    lines += "window.top.TopicSynchro=\"" + *synchro + "\";\r\n";
  } else if (!synchronisation.empty()) {
    if (auto tree = SynchronisationName(synchronisation))
      lines += "window.top.TopicSynchro=\"PUBL=VAMU&NAME=" + *tree + "\";\r\n";
  }
  if (auto related = NavigationValue(line, "LINKEDDOC=")) lines += "window.top.urlRel=\"" + *related + "\";\r\n";
  if (auto rulings = NavigationValue(line, "LINKEDORZ=")) lines += "window.top.urlOr=\"" + *rulings + "\";\r\n";
  return lines;
}

// The script that tells the frameset which document it shows.
std::string FramesetScript(std::int32_t index, const std::string& navigationLine) {
  std::string s;
  s += "\r\n<script language=\"JavaScript\"><!--\r\n";
  s += "if (location.href==top.location.href)\r\n{\r\n";
  s += "var inframes=" + Decimal(index) + "\r\n";
  s += "inframes='<A HREF=\"default.htm?'+inframes+'\" TARGET=_top><small><small>zobacz w ramkach</small></small></A><P>';\r\n";
  s += "document.write(inframes);\r\n";
  s += "}\r\nelse\r\n{\r\n";
  s += "while(window.top.VAMUNAV.frames.length<3 && window.top.MAIN.frames.length<2);\r\n";
  s += "if (window.top.MAIN.VAMUFOOT.location.search==\"?Foot&-3\") ";
  s += "window.top.MAIN.VAMUFOOT.location.href=\"portico.dll?Foot&-4\";\r\n";
  s += "else ";
  s += "window.top.MAIN.VAMUFOOT.location.href=\"portico.dll?Foot&-3\";\r\n";
  if (index < 0) {
    s += "window.top.GetLogo=\"1\";\r\n";
  } else {
    s += LinesFromNavigation(navigationLine);
    s += "window.top.GetLogo=0;\r\n";
  }
  s += "window.top.Rebuild();\r\n";
  s += "}\r\n";
  s += "//--></script>\r\n";
  return s;
}

// What the footer says where the operator has not configured it.
constexpr char kDefaultNotice[] = "Vamu Qad - akty normatywne i orzeczenia";
constexpr char kDefaultAddress[] = "Home.htm";

// One line in small print linking to the publisher; its text and address
// are the operator's (Publisher\Notice, Publisher\Address), each with a
// default when it is not configured.
std::string PublisherFooter() {
  std::string notice = ReadSetting("Publisher", "Notice");
  std::string address = ReadSetting("Publisher", "Address");
  if (notice.empty()) notice = kDefaultNotice;
  if (address.empty()) address = kDefaultAddress;
  return "<P><P><FONT COLOR=\"#0000FF\" FACE=\"Arial\" SIZE=\"-2\"><A HREF=\"" + HtmlEscape(address) +
         "\" TARGET=_top>" + notice + "</A></FONT>";
}

// The link of an act's document to its page without frames; nothing for
// other documents.
std::string ReaderLink(const CPorticoExtension& extension, DWORD index) {
  FileItemPtr item(extension.Main().GetItem(index));
  if (!item) return {};
  const std::string address = ReaderAddressOfItem(StoredName(item.get()));
  if (address.empty()) return {};
  return "<A HREF=\"" + address + "\" TARGET=_top>wersja bez ramek</A>\r\n";
}

// Writes the page of `index` (the bytes before and behind the footer);
// true when the page has a closing body tag, where the footer goes.
bool WriteDocument(CPorticoExtension& extension, CRequest& request, std::int32_t index, std::string* tail) {
  std::string navigationLine;
  CPageText text = Fetch(extension, index, index >= 0 ? &navigationLine : nullptr);
  const char* data = text.Data();
  const std::string_view all = text.View();
  const std::size_t n = all.size();

  std::size_t body = all.find("<BODY");
  if (body == npos) body = all.find("<body");
  std::size_t attributesEnd = 0;  // behind the body tag's ">"
  if (body != npos) {
    std::size_t close = all.find('>', body + 5);
    attributesEnd = close == npos ? n : close + 1;
  }
  // The closing tag counts only behind the opening one, so the body can never
  // have a negative length.
  std::size_t from = std::max(n > kBodyEndWindow ? n - kBodyEndWindow : 0, attributesEnd);
  std::size_t closing = all.find("</BODY>", from);
  if (closing == npos) closing = all.find("</body>", from);
  const std::size_t bodyEnd = closing == npos ? n : closing;

  if (body != npos) {
    WritePage(request, data, body + 5);
    if (attributesEnd - (body + 5) < 2) request.Write(" BACKGROUND=gt.gif BGCOLOR=#FFFFFF");
    request.Write(data + body + 5, attributesEnd - (body + 5));
    if (index != kNotesPage) request.Write(FramesetScript(index, navigationLine));
    if (index >= 0) request.Write(ReaderLink(extension, static_cast<DWORD>(index)));
    if (index >= 0)
      WriteWithRulingMarkers(extension, request, data + attributesEnd, bodyEnd - attributesEnd,
                             static_cast<DWORD>(index));
    else
      WriteChunked(request, data + attributesEnd, bodyEnd - attributesEnd);
  } else {
    WriteChunked(request, data, bodyEnd);
  }
  if (closing == npos) return false;
  tail->assign(data + bodyEnd, n - bodyEnd);
  return true;
}

}  // namespace

DWORD TopicPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments);
  CPageCache& cache = extension.PageCache();
  // Catalogue documents only: the static pages of the installation
  // directory may be edited while the site runs.
  const bool cacheable = index >= 0 && cache.Budget() > 0;
  if (CPageCache::Entry kept = cacheable ? cache.Find(index) : nullptr) {
    // In pieces, as the page itself was written.
    WritePieces(request, kept->head.data(), kept->head.size());
    if (kept->bFooter) request.Write(PublisherFooter());
    WritePieces(request, kept->tail.data(), kept->tail.size());
  } else {
    CPageCache::Page page;
    struct StopCopying {  // also when a damaged base throws
      CRequest& request;
      ~StopCopying() { request.CopyTo(nullptr); }
    } stop{request};
    if (cacheable) request.CopyTo(&page.head);
    page.bFooter = WriteDocument(extension, request, index, &page.tail);
    request.CopyTo(nullptr);
    if (page.bFooter) request.Write(PublisherFooter());
    request.Write(page.tail);
    if (cacheable && !request.Failed()) cache.Store(index, std::move(page));
  }
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
