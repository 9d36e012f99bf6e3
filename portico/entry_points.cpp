// The exported entry points of the library: the extension's, acting on the
// one extension object, its status for the host, and the filter's, which
// lets every request pass.
#include <cstring>

#include "platform/extension_status.h"
#include "platform/isapi.h"
#include "portico/extension.h"
#include "portico/status_report.h"

namespace portico {

namespace {

// Created when the library is loaded, destroyed when it is unloaded.
CPorticoExtension g_extension;

constexpr DWORD kFilterVersion = 0x00020001;
constexpr const char* kFilterDescription = "Vamu Filter Extension";

}  // namespace

CPorticoExtension& TheExtension() { return g_extension; }

}  // namespace portico

extern "C" {

BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) { return portico::TheExtension().GetExtensionVersion(pVer); }

DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) { return portico::TheExtension().HttpExtensionProc(pECB); }

BOOL TerminateExtension(DWORD) {
  portico::TheExtension().Stop();
  return TRUE;
}

BOOL GetExtensionStatus(EXTENSION_STATUS* status) {
  if (!status || status->cbSize != sizeof(EXTENSION_STATUS)) return FALSE;
  try {
    const portico::CPorticoExtension& extension = portico::TheExtension();
    status->dwState = portico::ExtensionState(extension);
    status->lpszCommands = portico::CommandWords();
    if (!status->lpszMetrics) return TRUE;
    const std::string text = portico::MetricsText(extension);
    const DWORD capacity = status->cbMetrics;
    status->cbMetrics = static_cast<DWORD>(text.size());
    if (text.size() > capacity) return FALSE;
    std::memcpy(status->lpszMetrics, text.data(), text.size());
    return TRUE;
  } catch (...) {  // nothing may be thrown across the entry point
    status->cbMetrics = 0;
    return TRUE;
  }
}

BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  if (!pVer) return TRUE;
  pVer->dwFilterVersion = portico::kFilterVersion;
  std::strncpy(pVer->lpszFilterDesc, portico::kFilterDescription, SF_MAX_FILTER_DESC_LEN - 1);
  pVer->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  pVer->dwFlags = SF_NOTIFY_ORDER_LOW | SF_NOTIFY_URL_MAP;
  return TRUE;
}

DWORD HttpFilterProc(HTTP_FILTER_CONTEXT*, DWORD, LPVOID) {
  // Every notification, the URL map included, continues unchanged.
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

}  // extern "C"
