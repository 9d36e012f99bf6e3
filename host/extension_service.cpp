#include "host/extension_service.h"

#include "host/url_map_filter.h"

namespace host {

ExtensionOutcome ServeExtensionRequest(const ExtensionModule& module, const StaticFiles& files, RequestInfo& request,
                                       ResponseChannel& channel) {
  if (request.pathTranslated.empty())
    request.pathTranslated = files.PhysicalPathFor(request.pathInfo.empty() ? "/" : request.pathInfo);
  bool mapped = request.pathInfo.empty() ||
                MapUrlThroughFilter(module, request, request.pathInfo, &request.pathTranslated);
  // The control block points into the request: built once the path is final.
  ExtensionCall call(request, channel);
  if (!mapped) return call.Finish(HSE_STATUS_ERROR, false);
  return call.Run(module);
}

}  // namespace host
