// One loaded extension library: finds its entry points, starts it, and stops
// and unloads it at the end. Every host (the HTTP server, a FastCGI host) owns
// exactly one and calls it from its request threads.
#pragma once

#include <string>

#include "platform/extension_status.h"
#include "platform/isapi.h"

namespace host {

class ExtensionModule {
 public:
  ExtensionModule() = default;
  ExtensionModule(const ExtensionModule&) = delete;
  ExtensionModule& operator=(const ExtensionModule&) = delete;
  // Terminates and unloads a library that is still loaded.
  ~ExtensionModule();

  // Loads the library at `path` (dlopen, all symbols bound at once), resolves
  // GetExtensionVersion, HttpExtensionProc and TerminateExtension (all
  // required) and the filter pair GetFilterVersion/HttpFilterProc (optional,
  // both or neither), then calls GetExtensionVersion once and, for a filter,
  // GetFilterVersion once. Any failure, a FALSE from either version call or an
  // exception out of it included, returns false with a one-line reason in
  // *error and leaves nothing loaded. Call once, before any request.
  bool Load(const std::string& path, std::string* error);

  bool IsLoaded() const { return m_handle != nullptr; }
  const std::string& Path() const { return m_path; }
  const HSE_VERSION_INFO& Version() const { return m_version; }

  // The filter half; FilterFlags() is 0 when the library has none.
  bool HasFilter() const { return m_filterProc != nullptr; }
  DWORD FilterFlags() const { return HasFilter() ? m_filterVersion.dwFlags : 0; }
  const HTTP_FILTER_VERSION& FilterVersion() const { return m_filterVersion; }

  // Calls into the library. Safe from any number of threads at once (the
  // extension is written for that). Whatever the extension throws comes
  // through: the callers decide how a failed request ends.
  DWORD CallHttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) const { return m_extensionProc(ecb); }
  DWORD CallHttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification, void* data) const {
    return m_filterProc(pfc, notification, data);
  }

  // What the extension reports of itself through GetExtensionStatus
  // (optional; a library without it is serving once loaded, with no
  // commands and no figures). Safe from any thread while loaded.
  struct Report {
    DWORD state = EXTENSION_STATE_SERVING;
    std::string commands;  // blank-separated command words
    std::string metrics;   // Prometheus text lines (only when asked for)
  };
  Report Status(bool withMetrics) const;

  // Calls TerminateExtension (and TerminateFilter when exported) once; later
  // calls do nothing. Exceptions out of the library are swallowed and logged.
  void Terminate(DWORD flags = HSE_TERM_MUST_UNLOAD);
  // dlclose. Only once no thread is inside the library any more; terminates
  // first when that has not happened.
  void Unload();

 private:
  void* Resolve(const char* name) const;
  void Reset();

  void* m_handle = nullptr;
  std::string m_path;
  bool m_terminated = false;
  HSE_VERSION_INFO m_version{};
  HTTP_FILTER_VERSION m_filterVersion{};
  PFN_GETEXTENSIONVERSION m_getVersion = nullptr;
  PFN_HTTPEXTENSIONPROC m_extensionProc = nullptr;
  PFN_TERMINATEEXTENSION m_terminateExtension = nullptr;
  PFN_GETFILTERVERSION m_getFilterVersion = nullptr;
  PFN_HTTPFILTERPROC m_filterProc = nullptr;
  PFN_TERMINATEFILTER m_terminateFilter = nullptr;
  PFN_GETEXTENSIONSTATUS m_getStatus = nullptr;
};

}  // namespace host
