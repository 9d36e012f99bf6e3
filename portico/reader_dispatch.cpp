// The reader addresses: which page answers which path.
#include "portico/reader_html.h"
#include "portico/reader_page.h"

namespace portico {

DWORD ReaderAddressPage(CPorticoExtension& extension, CRequest& request, std::string_view path,
                        std::string_view query) {
  if (path.substr(0, 5) == "/eli/") EliPage(extension, request, path, query);
  else if (path.substr(0, 5) == "/api/") ApiPage(extension, request, path, query);
  else if (path == "/sitemap.xml") SitemapPage(extension, request, query);
  else if (path == "/robots.txt") RobotsPage(extension, request);
  else if (path == "/feed/nowe.atom") FeedPage(extension, request);
  else WriteNotFound(request, "adres " + RequestText(path));
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
