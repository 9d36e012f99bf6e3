// What crawlers and feed readers ask for: /sitemap.xml (every act and
// version address), /robots.txt (the stable addresses open, the frameset's
// changing ones and the API not), and the Atom feed /feed/nowe.atom of the
// act versions added by the last publications of bases, newest first.
#include <algorithm>
#include <ctime>

#include "biblion/srv_srv.h"
#include "portico/extension.h"
#include "portico/publications.h"
#include "portico/reader_html.h"
#include "portico/reader_page.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/utf8.h"

namespace portico {

namespace {

// A sitemap file holds at most this many addresses; more go into parts
// named by an index.
constexpr std::size_t kMaxSitemap = 50000;
// The feed lists at most this many versions.
constexpr std::size_t kMaxFeedEntries = 200;

// Text for XML content and attributes: & < > " ' escaped, control bytes
// (which XML does not allow) left out.
std::string XmlText(std::string_view text) {
  std::string clean;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') clean += c;
  return HtmlEscape(clean);
}

// "http://host:port" of the request: its Host field when it is a plain host
// name or address, else the server's name and port.
std::string Origin(CRequest& request) {
  std::string host = request.ServerVariable("HTTP_HOST", 300).value_or("");
  bool plain = !host.empty();
  for (char c : host)
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '-' || c == ':' || c == '[' || c == ']');
  if (!plain) {
    std::string name = request.ServerVariable("SERVER_NAME", 300).value_or("localhost");
    std::string port = request.ServerVariable("SERVER_PORT", 16).value_or("80");
    host = "localhost";
    bool nameOk = !name.empty() && name != "_";
    for (char c : name) nameOk = nameOk && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-');
    if (nameOk) host = name;
    bool portOk = !port.empty() && port.size() <= 5;
    for (char c : port) portOk = portOk && c >= '0' && c <= '9';
    if (portOk && port != "80") host += ":" + port;
  }
  const bool https = request.ServerVariable("HTTPS", 8).value_or("") == "on";
  return (https ? "https://" : "http://") + host;
}

std::string IsoTime(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

}  // namespace

std::optional<std::string> SitemapXml(std::string_view origin, const std::vector<std::string>& addresses,
                                      std::size_t part, std::size_t perFile) {
  const std::size_t files = std::max<std::size_t>(1, (addresses.size() + perFile - 1) / perFile);
  if (part > files) return std::nullopt;
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string ns = " xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
  if (part == 0 && files > 1) {
    std::string xml = head + "<sitemapindex" + ns;
    for (std::size_t k = 1; k <= files; ++k)
      xml += "<sitemap><loc>" + std::string(origin) + "/sitemap.xml?czesc=" + std::to_string(k) + "</loc></sitemap>\n";
    return xml + "</sitemapindex>\n";
  }
  const std::size_t from = part == 0 ? 0 : (part - 1) * perFile;
  std::string xml = head + "<urlset" + ns;
  for (std::size_t i = from; i < addresses.size() && i < from + perFile; ++i)
    xml += "<url><loc>" + std::string(origin) + XmlText(addresses[i]) + "</loc></url>\n";
  return xml + "</urlset>\n";
}

void SitemapPage(CPorticoExtension& extension, CRequest& request, std::string_view query) {
  std::size_t part = 0;
  if (std::optional<std::string> p = QueryField(query, "czesc")) {
    bool number = !p->empty() && p->size() <= 6 && (*p)[0] != '0';
    for (char c : *p) number = number && c >= '0' && c <= '9';
    if (!number) return WriteNotFound(request, "część mapy witryny " + RequestText(*p, 20));
    part = static_cast<std::size_t>(std::stoul(*p));
  }
  extension.WaitReady();
  // Each act once (its text in force), then each of its versions.
  std::vector<std::string> addresses;
  std::string lastAct;
  for (const std::string& version : VersionPaths(extension.Main())) {
    std::optional<EliAddress> a = ParseEliAddress("/eli/" + version);
    if (!a) continue;
    std::string act = EliPath(a->act);
    if (act != lastAct) addresses.push_back(lastAct = std::move(act));
    addresses.push_back("/eli/" + version);
  }
  std::optional<std::string> xml = SitemapXml(XmlText(Origin(request)), addresses, part, kMaxSitemap);
  if (!xml) return WriteNotFound(request, "część mapy witryny " + std::to_string(part));
  WriteUtf8Response(request, "200 OK", "application/xml; charset=utf-8", *xml);
}

void RobotsPage(CPorticoExtension&, CRequest& request) {
  const std::string text = "User-agent: *\nDisallow: /portico.dll\nDisallow: /api/\nAllow: /eli/\n\nSitemap: " +
                           Origin(request) + "/sitemap.xml\n";
  WriteUtf8Response(request, "200 OK", "text/plain; charset=utf-8", text);
}

void FeedPage(CPorticoExtension& extension, CRequest& request) {
  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  std::shared_ptr<const std::vector<Publication>> publications =
      extension.Publications().Current(catalogue, static_cast<std::int64_t>(std::time(nullptr)));
  const std::string origin = XmlText(Origin(request));
  std::string entries;
  std::int64_t updated = 0;
  std::size_t n = 0;
  // The newest publication first; within one, in the order of the table.
  for (auto p = publications->rbegin(); p != publications->rend() && n < kMaxFeedEntries; ++p) {
    updated = std::max(updated, p->time);
    for (const std::string& version : p->added) {
      if (n++ >= kMaxFeedEntries) break;
      std::string title = version, what;
      if (std::optional<EliAddress> a = ParseEliAddress("/eli/" + version)) {
        if (std::optional<ReaderAct> act = FindReaderAct(catalogue, a->act)) {
          if (std::optional<std::size_t> v = SelectVersion(*act, *a)) {
            const ActVersion& shown = act->versions[*v];
            title = ShortTitle(catalogue.GetTitleOf(shown.index));
            what = Citation(act->first) + ", " + VersionLabel(shown);
          }
        }
      }
      const std::string link = origin + "/eli/" + XmlText(version);
      entries += "<entry>\n<id>" + link + "</id>\n<title>" + XmlText(Utf8FromCp1250(title)) + "</title>\n<updated>" +
                 IsoTime(p->time) + "</updated>\n<link rel=\"alternate\" type=\"text/html\" href=\"" + link +
                 "\"/>\n<summary>" + XmlText(Utf8FromCp1250(what)) + "</summary>\n</entry>\n";
    }
  }
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:lang=\"pl\">\n";
  xml += "<id>" + origin + "/feed/nowe.atom</id>\n<title>" + XmlText(Utf8FromCp1250("Vamu Qad \x96 nowe akty")) +
         "</title>\n<updated>" + IsoTime(updated) + "</updated>\n<author><name>Vamu Qad</name></author>\n";
  xml += "<link rel=\"self\" type=\"application/atom+xml\" href=\"" + origin + "/feed/nowe.atom\"/>\n";
  xml += "<link rel=\"alternate\" type=\"text/html\" href=\"" + origin + "/\"/>\n";
  xml += entries + "</feed>\n";
  WriteUtf8Response(request, "200 OK", "application/atom+xml; charset=utf-8", xml);
}

}  // namespace portico
