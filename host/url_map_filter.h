// Runs the extension library's filter over the mapping of a URL to a file
// (the URL-map notification), when the filter asked for it. Hosts call it
// before they open a static file and when they translate an extension's path
// info; the filter may change the physical path.
#pragma once

#include <string>

#include "host/extension_module.h"
#include "host/request_info.h"

namespace host {

// True when the mapping may go on: the filter is absent, did not ask for
// URL-map notifications, or answered "next notification" / "handled";
// *physicalPath then holds the (possibly changed) path. False when the filter
// reported an error, any other result, or threw (logged): the request fails.
// The filter's context offers GetServerVariable; its other callbacks fail, as
// the filter only maps paths here.
bool MapUrlThroughFilter(const ExtensionModule& module, const RequestInfo& request, const std::string& url,
                         std::string* physicalPath);

}  // namespace host
