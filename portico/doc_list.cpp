#include "portico/doc_list.h"

#include "biblion/srv_srv.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/request.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kHead[] =
    "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\"></HEAD>"
    "<BODY BGCOLOR=\"#FFFFFF\">";
constexpr char kEnd[] = "</BODY></HTML>";
constexpr char kNoTitle[] = "Bez tytułu";
// Titles are taken from what the first stored bytes of an item yield.
constexpr DWORD kTitleReadLimit = 500;

std::string Title(std::string_view text) {
  std::size_t open = FindNoCase(text, "<TITLE>");
  if (open == npos) return kNoTitle;
  open += 7;
  std::size_t close = FindNoCase(text, "</TITLE>", open);
  if (close == npos) return kNoTitle;
  return std::string(text.substr(open, close - open));
}

// How the entry links to the item: by name (without directory and
// extension), or by its index when the name would be read as an index.
std::string LinkName(const std::string& storedName, DWORD index) {
  std::string_view name = LastComponent(storedName);
  std::size_t dot = name.rfind('.');
  if (dot != npos) name = name.substr(0, dot);
  if (NameReadsAsIndex(name)) return Decimal(index);
  return std::string(name);
}

}  // namespace

std::string WriteDocList(const CPorticoExtension& extension, CRequest& request, const std::vector<DWORD>& items,
                         const std::string& header, const std::string& emptyText, const char* trailer,
                         const std::function<std::string(DWORD)>& below) {
  std::string piece;
  if (items.empty()) {
    piece = std::string(kHead) + emptyText + (trailer ? trailer : "") + kEnd;
    request.Write(piece);
    return piece;
  }
  piece = std::string(kHead) + header + "<P><UL>\r\n";
  request.Write(piece);
  for (DWORD index : items) {
    CPageText text;
    std::string name;
    if (!ReadItem(extension.Main(), index, kTitleReadLimit, text, &name)) continue;
    piece = "<LI><A HREF=portico.dll?Topic&" + LinkName(name, index) + " TARGET=VAMUTEXT>" + Title(text.View()) + "</A>";
    if (below) {
      const std::string extra = below(index);
      if (!extra.empty()) piece += "<BR><FONT SIZE=\"-1\">" + extra + "</FONT>";
    }
    piece += "<P>\r\n";
    request.Write(piece);
  }
  piece = std::string("</UL>\r\n") + (trailer ? trailer : "") + kEnd;
  request.Write(piece);
  return piece;
}

}  // namespace portico
