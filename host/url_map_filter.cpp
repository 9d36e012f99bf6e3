#include "host/url_map_filter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "host/error_log.h"

namespace host {

namespace {

// Room the filter gets for a changed path, as a server's path buffer would give it.
constexpr std::size_t kPathBuffer = 4096;

const RequestInfo* RequestOf(HTTP_FILTER_CONTEXT* pfc) {
  return pfc ? static_cast<const RequestInfo*>(pfc->ServerContext) : nullptr;
}

BOOL FilterGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  const RequestInfo* request = RequestOf(pfc);
  if (!request) return FALSE;
  try {
    return CopyServerVariable(*request, name, buffer, size) ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}

BOOL FilterAddResponseHeaders(HTTP_FILTER_CONTEXT*, LPSTR, DWORD) {
  errno = ENOTSUP;
  return FALSE;
}

BOOL FilterWriteClient(HTTP_FILTER_CONTEXT*, LPVOID, LPDWORD, DWORD) {
  errno = ENOTSUP;
  return FALSE;
}

LPVOID FilterAllocMem(HTTP_FILTER_CONTEXT*, DWORD, DWORD) {
  errno = ENOTSUP;
  return nullptr;
}

BOOL FilterServerSupport(HTTP_FILTER_CONTEXT*, DWORD, PVOID, ULONG_PTR, ULONG_PTR) {
  errno = ENOTSUP;
  return FALSE;
}

}  // namespace

bool MapUrlThroughFilter(const ExtensionModule& module, const RequestInfo& request, const std::string& url,
                         std::string* physicalPath) {
  if (!(module.FilterFlags() & SF_NOTIFY_URL_MAP)) return true;

  std::vector<char> path(std::max(kPathBuffer, physicalPath->size() + 1), '\0');
  std::memcpy(path.data(), physicalPath->c_str(), physicalPath->size() + 1);

  HTTP_FILTER_CONTEXT context{};
  context.cbSize = sizeof context;
  context.Revision = HTTP_FILTER_REVISION;
  context.ServerContext = const_cast<RequestInfo*>(&request);
  context.GetServerVariable = &FilterGetServerVariable;
  context.AddResponseHeaders = &FilterAddResponseHeaders;
  context.WriteClient = &FilterWriteClient;
  context.AllocMem = &FilterAllocMem;
  context.ServerSupportFunction = &FilterServerSupport;

  HTTP_FILTER_URL_MAP map{};
  map.pszURL = url.c_str();
  map.pszPhysicalPath = path.data();
  map.cbPathBuff = DWORD(path.size());

  DWORD result = 0;
  try {
    result = module.CallHttpFilterProc(&context, SF_NOTIFY_URL_MAP, &map);
  } catch (const std::exception& e) {
    LogError(std::string("exception in the filter: ") + e.what() + "; URL: " + url);
    return false;
  } catch (...) {
    LogError("exception in the filter; URL: " + url);
    return false;
  }
  if (result != SF_STATUS_REQ_NEXT_NOTIFICATION && result != SF_STATUS_REQ_HANDLED_NOTIFICATION) {
    LogError("the filter refused the URL " + url + " (result " + std::to_string(result) + ")");
    return false;
  }
  // The filter may have left the buffer without a terminating zero.
  physicalPath->assign(path.data(), strnlen(path.data(), path.size()));
  return true;
}

}  // namespace host
