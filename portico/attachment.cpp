// References to acts by name: portico.dll/NAME.ATT?rank shows the act whose
// key is made from NAME, the rank-th of several (0-based; the last when no
// rank is given or fewer acts match).
#include <climits>
#include <string>

#include "biblion/srv_srv.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"

namespace portico {

namespace {

constexpr char kNoSuchAct[] = "<HTML><TITLE>Błędna komenda</TITLE><BODY>Brak takiego aktu</BODY></HTML>";

// The act key of a reference name: the first three characters, then the
// rest padded with zeros to at least three characters (XYZ7 -> XYZ007).
std::string ActKey(std::string_view name) {
  std::string head(name.substr(0, 3));
  std::string rest(name.size() > 3 ? name.substr(3) : std::string_view());
  if (rest.size() < 3) rest.insert(0, 3 - rest.size(), '0');
  return head + rest;
}

bool Matches(const CSrvSrv& catalogue, DWORD index, const std::string& key) {
  FileItemPtr item(catalogue.GetItem(index));
  if (!item) return false;
  const std::string name = StoredName(item.get());
  return LastComponent(name).compare(0, key.size(), key) == 0 && LastComponent(name).size() >= key.size();
}

}  // namespace

DWORD AttachmentPage(CPorticoExtension& extension, CRequest& request, const std::string& query) {
  // The file name of the translated path; both separators count, so a path
  // in either convention gives the same name.
  std::string_view path = request.PathTranslated();
  std::size_t slash = path.find_last_of("/\\");
  std::string name = UpperCased(slash == npos ? path : path.substr(slash + 1));
  std::size_t att = name.find(".ATT");
  if (att == std::string::npos) return 0;
  name.resize(att);

  // A rank beyond the 32-bit range means "more than there are": the last match.
  std::int32_t rank = !query.empty() && IsDigit(query[0]) ? DecimalValue(query) : -1;

  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  const std::string key = ActKey(name);
  DWORD match = CSrvSrv::kNoItem;
  std::int64_t matches = 0;
  for (DWORD index : FindKeyItems(catalogue, key)) {
    if (rank >= 0 && matches > rank) break;
    if (Matches(catalogue, index, key)) {
      match = index;
      ++matches;
    }
  }
  if (match != CSrvSrv::kNoItem) return TopicPage(extension, request, Decimal(match));

  request.SendHeader();
  request.Write(kNoSuchAct);
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
