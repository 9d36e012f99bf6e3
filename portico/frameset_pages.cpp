// The frameset of a document (Main), which also counts the visit
// (visit_counter.h), and its footer frame (Foot): the footer page a document
// carries in a "<!--FOOT" comment, a placeholder under the home page, or else
// an advertisement chosen at random from the section "Commercials".
#include <cstdint>
#include <random>
#include <string>

#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/settings.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kCommercials[] = "Commercials";
constexpr char kFootMark[] = "<!--FOOT";
constexpr std::size_t kFootMarkLength = sizeof kFootMark - 1;
constexpr char kPlaceholder[] = "<HTML><BODY><CENTER><FONT SIZE=3>Miejsce na Twoją reklamę.</CENTER></BODY></HTML>";
constexpr char kFooterBody[] = " BGCOLOR=#FFFFFF> <FONT SIZE=\"-1\">";

std::string LowerHex(std::uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string digits;
  do digits.insert(digits.begin(), kHex[value & 15]);
  while (value >>= 4);
  return digits;
}

// 0..32767, as the advertisement choice needs.
std::uint32_t Random15() {
  thread_local std::minstd_rand generator{std::random_device{}()};
  return static_cast<std::uint32_t>(generator() & 0x7FFF);
}

std::string AdvertisementPage() {
  const std::uint64_t count = CountSettings(kCommercials);
  const std::uint64_t number = count * Random15() / 32768 + 1;  // 1..count, 1 when none
  std::string value = ReadSetting(kCommercials, "Commercial" + LowerHex(number));
  std::string image = value, alt;
  std::size_t semicolon = value.find(';');
  if (semicolon != std::string::npos) {
    image = value.substr(0, semicolon);
    alt = value.substr(semicolon + 1);
  }
  // The expiry date lies in the past: every reload makes a new choice. The
  // body tag is a plain one: the footer page gives it its background and font.
  std::string page =
      "<HTML><HEAD> <META HTTP-EQUIV=\"Expires\" CONTENT=\"Tue, 04 Dec 1996 21:29:02 GMT\"></HEAD>"
      "<BODY><CENTER><IMG SRC=\"" + image;
  if (!alt.empty()) page += "\" ALT=\"" + alt;
  return page + "\"></CENTER></BODY></HTML>";
}

// The footer text of a document: its "<!--FOOT" page (to the next "-->", or
// to the end of the document when that is missing), or an advertisement.
CPageText DocumentFooter(const CPorticoExtension& extension, std::int32_t index) {
  extension.WaitReady();
  CPageText text;
  if (!ReadItem(extension.Main(), static_cast<DWORD>(index), 0, text) || text.Empty())
    return CPageText::Copy(kNotFoundPage);
  text.CutAtZero();  // the text ends at its first zero byte, as every text read does
  std::string_view all = text.View();
  std::size_t mark = all.find(kFootMark);
  if (mark == npos) return CPageText::Copy(AdvertisementPage());
  std::size_t start = mark + kFootMarkLength;
  std::size_t end = all.find("-->", start);
  if (end == npos) end = all.size();
  return CPageText::Copy(all.substr(start, end - start));
}

}  // namespace

DWORD MainPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments);
  extension.Visits().Count();
  request.Write(
      "<HTML>\r\n<HEAD>\r\n</HEAD>\r\n<FRAMESET ROWS=\"*,120\">\r\n"
      "<FRAME NAME=VAMUTEXT FRAMEBORDER=0 src=portico.dll?Topic&" + Decimal(index) +
      ">\r\n<FRAME NAME=VAMUFOOT src=portico.dll?Foot&-3>\r\n"
      "<NOFRAMES>Ta strona wymaga przeglądarki z ramkami. <A HREF=\"portico.dll?Topic&" + Decimal(index) +
      "\">Tekst dokumentu bez ramek</A></NOFRAMES>"
      "</FRAMESET>\r\n</HTML>");
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

DWORD FootPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments);
  CPageText text;
  if (index >= 0) text = DocumentFooter(extension, index);
  else if (index == kHomePage) text = CPageText::Copy(kPlaceholder);
  else text = CPageText::Copy(AdvertisementPage());

  std::string_view all = text.View();
  std::size_t body = all.find("<BODY>");
  if (body == npos) body = all.find("<body>");
  if (body != npos) {
    WritePage(request, text.Data(), body + 5);
    request.Write(kFooterBody);
    request.Write(text.Data() + body + 6, all.size() - (body + 6));
  } else {
    request.Write(text.Data(), all.size());
  }
  text = CPageText();
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
