// The navigation and search pages that are not built yet. Each answers with
// the response header and the not-found page, so that the command table is
// complete and a request for them ends properly. They are replaced one by one
// by their own files (search_page.cpp, tree_toc_page.cpp, frameset_pages.cpp,
// part_or_page.cpp, synchronize_page.cpp, image_page.cpp).
#include <string>

#include "portico/document.h"
#include "portico/pages.h"
#include "portico/request.h"

namespace portico {

namespace {

DWORD NotBuiltYet(CRequest& request) {
  request.SendHeader();
  request.Write(kNotFoundPage);
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace

// Not built yet.
DWORD FootPage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }
// Not built yet.
DWORD MainPage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }
// Not built yet.
DWORD SearchPage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }
// Not built yet.
DWORD PartOrPage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }
// Not built yet.
DWORD ImagePage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }
// Not built yet.
DWORD TreeTocPage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }
// Not built yet.
DWORD SynchronizePage(CPorticoExtension&, CRequest& request, const std::string&) { return NotBuiltYet(request); }

}  // namespace portico
