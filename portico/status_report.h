// The extension's report to its host (GetExtensionStatus, entry_points.cpp):
// whether it serves, the command words of its pages, and its own figures in
// the Prometheus text format - lookups of the page and search caches, the
// bases in service with their GUID, documents and time of opening, and the
// publications of new bases. The host adds its own (requests, latencies,
// bytes, connections) and serves them at /metrics.
#pragma once

#include <string>

#include "platform/windows_types.h"

namespace portico {

class CPorticoExtension;

// EXTENSION_STATE_STARTING before the first generation of bases is open,
// EXTENSION_STATE_NO_DATA when its main catalogue holds no base, else
// EXTENSION_STATE_SERVING.
DWORD ExtensionState(const CPorticoExtension& extension);

// The command words of the dispatch table, blank-separated; static text.
const char* CommandWords();

// The figures, one "# HELP" and "# TYPE" line before each metric's samples.
// Label values are ASCII: bytes outside printable ASCII in a base's path are
// percent-encoded.
std::string MetricsText(const CPorticoExtension& extension);

// "{6B29FC40-CA47-1067-B31D-00DD010662DA}", as the registry writes GUIDs.
std::string GuidText(const GUID& guid);

}  // namespace portico
