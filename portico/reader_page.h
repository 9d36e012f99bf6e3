// The reader pages behind the addresses that are not "/portico.dll": the
// page without frames of an act or a provision ("/eli/..."), the comparison
// of two versions ("/eli/.../zmiany"), the API ("/api/v1/..."), the site map,
// robots.txt and the feed of new acts. Dispatch hands every such request to
// ReaderAddressPage with the decoded path and the raw query string.
#pragma once

#include <string>
#include <string_view>

#include "platform/isapi.h"
#include "portico/reader_act.h"

namespace portico {

class CPorticoExtension;
class CRequest;

// Answers a reader address; every address it does not know gets a 404 page.
DWORD ReaderAddressPage(CPorticoExtension& extension, CRequest& request, std::string_view path,
                        std::string_view query);

// The pages themselves (reader_page.cpp, changes_page.cpp, api_pages.cpp, site_maps.cpp).
void EliPage(CPorticoExtension& extension, CRequest& request, std::string_view path, std::string_view query);
void ChangesPage(CPorticoExtension& extension, CRequest& request, const ReaderAct& act, std::string_view query);
void ApiPage(CPorticoExtension& extension, CRequest& request, std::string_view path, std::string_view query);
void SitemapPage(CPorticoExtension& extension, CRequest& request, std::string_view query);
void RobotsPage(CPorticoExtension& extension, CRequest& request);
void FeedPage(CPorticoExtension& extension, CRequest& request);

// The sitemap of `addresses` (paths: each act, then its versions) when they
// fit in one file of `perFile`; else part 0 is the index of the files
// /sitemap.xml?czesc=1..n and part k the k-th of them. Nothing for a part
// beyond the last. `origin` ("http://host") is XML text already.
std::optional<std::string> SitemapXml(std::string_view origin, const std::vector<std::string>& addresses,
                                      std::size_t part, std::size_t perFile);

// The page without frames of one version of an act (windows-1250): the
// whole act, or only `provisions` (which the caller has found in the text).
std::string ActPageHtml(const CPorticoExtension& extension, const ReaderAct& act, std::size_t version,
                        const ReaderDocument& document, const ProvisionPath& provisions);

// The address of the page without frames of a document of the frameset
// ("/eli/DU/1997/483/po/DU/2009/946"); empty for documents that are no act.
std::string ReaderAddressOfItem(std::string_view storedName);

}  // namespace portico
