#include "portico/reader_html.h"

#include "platform/isapi.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/utf8.h"

namespace portico {

namespace {

// One style sheet for every reader page: readable on a phone, high enough
// contrast, visible focus, and a print form without navigation.
constexpr char kStyle[] =
    "<style>\n"
    ":root{color-scheme:light}\n"
    "body{margin:0 auto;max-width:50rem;padding:0 1rem 2rem;font:1.05rem/1.55 Georgia,\"DejaVu Serif\",serif;"
    "color:#1a1a1a;background:#fff;overflow-wrap:break-word}\n"
    "a{color:#0645ad}a:focus,summary:focus{outline:3px solid #b35900;outline-offset:2px}\n"
    ".skip{position:absolute;left:-9999px}.skip:focus{position:static}\n"
    ".site{font:.9rem/1.4 sans-serif;margin:.75rem 0}.site a{margin-right:1rem}\n"
    "h1{font-size:1.5rem;line-height:1.25}h2{font-size:1.2rem;border-bottom:1px solid #bbb;margin-top:2rem}\n"
    "h3{font-size:1.1rem;text-align:center}h4{font-size:1rem;margin:1.2rem 0 .2rem}\n"
    ".cite{font-style:italic}.ver li{margin:.2rem 0}nav ul{padding-left:1.2rem}\n"
    "p.u-pkt{margin-left:1.5rem}p.u-lit{margin-left:3rem}\n"
    "a.m{font:.8rem sans-serif;margin-left:.5rem;white-space:nowrap}\n"
    "details.orz{margin:.3rem 0 .8rem 1rem;padding:.3rem .6rem;border-left:3px solid #7a5c2e;background:#faf7f0}\n"
    "details.orz summary{cursor:pointer;font:.9rem sans-serif}details.orz li{margin:.5rem 0}\n"
    ".os{font-size:.95rem}.od{font:.85rem sans-serif}\n"
    "del{background:#fbe3e3;color:#6b0000}ins{background:#e0f4e0;color:#004400}\n"
    ".chg{border-top:1px solid #ccc;margin-top:1rem}.chg h3{text-align:left}\n"
    "footer{margin-top:2rem;font:.85rem sans-serif;border-top:1px solid #bbb}\n"
    "@media (max-width:30rem){body{font-size:1rem;padding:0 .6rem 1rem}h1{font-size:1.25rem}"
    "p.u-lit{margin-left:2rem}details.orz{margin-left:0}}\n"
    "@media print{.skip,.site,nav,a.m,details.orz,footer{display:none}"
    "body{max-width:none;font:11pt/1.4 Georgia,serif}a{color:#000;text-decoration:none}h4{break-after:avoid}}\n"
    "</style>\n";

bool IsIdChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == ':';
}

}  // namespace

void WriteUtf8Response(CRequest& request, const char* status, const char* contentType, std::string_view utf8) {
  EXTENSION_CONTROL_BLOCK* ecb = request.Ecb();
  const std::string header = std::string("Content-type: ") + contentType + "\r\n\r\n";
  if (ecb->ServerSupportFunction)
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status), nullptr,
                               reinterpret_cast<LPDWORD>(const_cast<char*>(header.c_str())));
  WritePieces(request, utf8.data(), utf8.size());
  RunEpilogue(request);
  // The logged status is the one sent.
  ecb->dwHttpStatusCode = static_cast<DWORD>(DecimalValue(status ? status : "200"));
}

std::string HtmlPage(std::string_view title, std::string_view head, std::string_view body) {
  std::string page;
  page.reserve(body.size() + 4096);
  page += "<!DOCTYPE html>\n<html lang=\"pl\">\n<head>\n<meta charset=\"utf-8\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  page += HtmlEscape(title);
  page += "</title>\n";
  page += kStyle;
  page += head;
  page += "</head>\n<body>\n<a class=\"skip\" href=\"#tresc\">Przejdź do treści</a>\n";
  page += body;
  page += "</body>\n</html>\n";
  return page;
}

void WriteHtmlPage(CRequest& request, const char* status, std::string_view page) {
  WriteUtf8Response(request, status, "text/html; charset=utf-8", Utf8FromCp1250(page));
}

std::string SiteHeader(std::string_view framesAddress) {
  std::string h = "<header>\n<p class=\"site\"><a href=\"/\">Vamu Qad</a><a href=\"/Search.htm\">Szukaj</a>";
  if (!framesAddress.empty()) h += "<a href=\"" + HtmlEscape(framesAddress) + "\">Wersja w ramkach</a>";
  return h + "</p>\n";
}

void WriteNotFound(CRequest& request, std::string_view what, std::string_view upTo, std::string_view upToCaption) {
  std::string body = SiteHeader({});
  body += "<h1>Nie znaleziono</h1>\n</header>\n<main id=\"tresc\">\n<p>Nie ma tu: <strong>" + HtmlEscape(what) +
          "</strong>.</p>\n";
  if (!upTo.empty())
    body += "<p>Zobacz: <a href=\"" + HtmlEscape(upTo) + "\">" + HtmlEscape(upToCaption) + "</a>.</p>\n";
  body += "<p><a href=\"/Search.htm\">Wyszukaj akt lub przepis</a></p>\n</main>\n";
  WriteHtmlPage(request, "404 Not Found", HtmlPage("Nie znaleziono", {}, body));
}

void WriteBadRequest(CRequest& request, std::string_view what) {
  std::string body = SiteHeader({});
  body += "<h1>Błędne zapytanie</h1>\n</header>\n<main id=\"tresc\">\n<p>" + HtmlEscape(what) +
          "</p>\n<p><a href=\"/Search.htm\">Wyszukaj akt lub przepis</a></p>\n</main>\n";
  WriteHtmlPage(request, "400 Bad Request", HtmlPage("Błędne zapytanie", {}, body));
}

std::string RequestText(std::string_view text, std::size_t limit) {
  if (text.size() > limit) text = text.substr(0, limit);
  if (std::optional<std::string> cp = Cp1250FromUtf8(text)) {
    for (char& c : *cp)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return *cp;
  }
  return PercentEscaped(text, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

std::string PercentEscaped(std::string_view text, bool (*keep)(unsigned char)) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (keep(c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::optional<std::string> QueryField(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view field = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    std::size_t eq = field.find('=');
    if (PercentDecode(field.substr(0, eq), true) != name) continue;
    return eq == std::string_view::npos ? std::string() : PercentDecode(field.substr(eq + 1), true);
  }
  return std::nullopt;
}

std::string DisplayNumber(std::string_view number) {
  std::size_t open = number.find('(');
  if (open == std::string_view::npos || number.back() != ')') return HtmlEscape(number);
  return HtmlEscape(number.substr(0, open)) + "<sup>" +
         HtmlEscape(number.substr(open + 1, number.size() - open - 2)) + "</sup>";
}

std::string SafeId(std::string_view prefix, std::string_view name) {
  std::string id(prefix);
  for (char c : name) id += IsIdChar(c) ? c : '_';
  return id;
}

}  // namespace portico
