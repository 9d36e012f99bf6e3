// The extension's part of a request, the same in every host: the path info
// mapped to a file path and through the extension's URL-map filter, then the
// call through ExtensionCall with its end rules. The HTTP server's workers
// and the FastCGI host's workers call it once per portico.dll request.
#pragma once

#include "host/extension_module.h"
#include "host/extension_request.h"
#include "host/request_info.h"
#include "host/response_channel.h"
#include "host/static_files.h"

namespace host {

// Runs one request through the extension on the calling thread. A request
// without a translated path gets one from the installation directory (the
// path info, or "/"); a host that received one from its web server keeps
// it. A path info the filter refuses ends the request as a failure before
// the extension sees it (a 500 page through the channel). Never throws for
// anything the extension does; the outcome says how the request ended.
ExtensionOutcome ServeExtensionRequest(const ExtensionModule& module, const StaticFiles& files, RequestInfo& request,
                                       ResponseChannel& channel);

}  // namespace host
