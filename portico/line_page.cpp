// The Line page: the button bar of a document, made from its navigation line.
#include <string>

#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/topic.h"

namespace portico {

namespace {

constexpr char kHead[] =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\"><html><head><meta http-equiv=\"Content-Type\""
    "content=\"text/html; charset=windows-1250\"><meta name=\"GENERATOR\" content=\"Microsoft FrontPage 2.0\">"
    "<title>Vamu Qad'97</title></head><body  topmargin=\"1\" >";

enum ButtonKind { kSearch, kHome, kNotes, kBookmarks, kRelated, kRulings };

struct ButtonInfo {
  const char* caption;
  bool inFooter;  // loads into VAMUFOOT inside MAIN, else into MAIN
  const char* address;
};

constexpr ButtonInfo kButtons[] = {
    {"Szukaj", false, "portico.dll?Main&-1"},
    {"Strona Główna", false, "portico.dll?Main&-2"},
    {"Notatki", true, "portico.dll?Topic&-4&"},
    {"Zakładki", true, "portico.dll?Topic&-5&"},
    {"Powiązane", true, "portico.dll?LinkedDoc&"},
    {"Orzeczenia", true, "portico.dll?LinkedOrz&"},
};

}  // namespace

std::string Button(int kind, const std::string& value) {
  const ButtonInfo& b = kButtons[kind];
  std::string address = b.address;
  if (kind >= kNotes) address += value;
  for (char& c : address)
    if (c == ' ') c = '+';
  std::string html = "<INPUT LANGUAGE=\"JavaScript\" TYPE=BUTTON VALUE=\"";
  html += b.caption;
  html += "\" onClick=\"window.top.frames['MAIN']";
  if (b.inFooter) html += ".frames['VAMUFOOT']";
  html += ".location.href='" + address + "'\" >";
  return html;
}

DWORD LinePage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments);
  const std::string line = NavigationLine(extension, index);

  std::string form = "<FORM NAME=\"Vamu\">";
  if (line.find("Search@") != std::string::npos) form += Button(kSearch, {});
  if (line.find("Home@") != std::string::npos) form += Button(kHome, {});
  std::string notes = NavigationValue(line, "Notes=").value_or("");
  if (!notes.empty()) form += Button(kNotes, notes);
  // The related acts leave out the document shown.
  if (auto related = NavigationValue(line, "LinkedDoc=")) form += Button(kRelated, *related + "&" + Decimal(index));
  std::string rulings = NavigationValue(line, "LinkedOrz=").value_or("");
  if (!rulings.empty()) form += Button(kRulings, rulings);
  form += "</FORM>";

  request.Write(kHead);
  request.Write(form);
  request.Write("</BODY></HTML>");
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
