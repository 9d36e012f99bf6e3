#include "host/extension_module.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "host/error_log.h"

namespace host {

namespace {

// Runs a version call and turns an escaping exception into a failure.
template <class F>
bool CallGuarded(F&& call, const char* what, std::string* error) {
  try {
    if (call()) return true;
    *error = std::string(what) + " returned FALSE";
  } catch (const std::exception& e) {
    *error = std::string(what) + " threw: " + e.what();
  } catch (...) {
    *error = std::string(what) + " threw an exception";
  }
  return false;
}

}  // namespace

ExtensionModule::~ExtensionModule() { Unload(); }

void* ExtensionModule::Resolve(const char* name) const {
  ::dlerror();
  return ::dlsym(m_handle, name);
}

void ExtensionModule::Reset() {
  if (m_handle) ::dlclose(m_handle);
  m_handle = nullptr;
  m_getVersion = nullptr;
  m_extensionProc = nullptr;
  m_terminateExtension = nullptr;
  m_getFilterVersion = nullptr;
  m_filterProc = nullptr;
  m_terminateFilter = nullptr;
  m_getStatus = nullptr;
  m_terminated = false;
}

bool ExtensionModule::Load(const std::string& path, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (m_handle) {
    *error = "an extension is already loaded";
    return false;
  }
  m_path = path;
  // RTLD_NOW: a library with unresolved symbols fails here, not in the middle of a request.
  m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    const char* why = ::dlerror();
    *error = "cannot load " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  m_getVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(Resolve("GetExtensionVersion"));
  m_extensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(Resolve("HttpExtensionProc"));
  m_terminateExtension = reinterpret_cast<PFN_TERMINATEEXTENSION>(Resolve("TerminateExtension"));
  m_getFilterVersion = reinterpret_cast<PFN_GETFILTERVERSION>(Resolve("GetFilterVersion"));
  m_filterProc = reinterpret_cast<PFN_HTTPFILTERPROC>(Resolve("HttpFilterProc"));
  m_terminateFilter = reinterpret_cast<PFN_TERMINATEFILTER>(Resolve("TerminateFilter"));
  m_getStatus = reinterpret_cast<PFN_GETEXTENSIONSTATUS>(Resolve("GetExtensionStatus"));

  std::string missing;
  if (!m_getVersion) missing += " GetExtensionVersion";
  if (!m_extensionProc) missing += " HttpExtensionProc";
  if (!m_terminateExtension) missing += " TerminateExtension";
  if (!missing.empty()) {
    *error = path + " does not export" + missing;
    Reset();
    return false;
  }
  if (!m_getFilterVersion != !m_filterProc) {
    *error = path + " exports only one of GetFilterVersion and HttpFilterProc";
    Reset();
    return false;
  }

  std::memset(&m_version, 0, sizeof m_version);
  if (!CallGuarded([&] { return m_getVersion(&m_version); }, "GetExtensionVersion", error)) {
    Reset();
    return false;
  }
  m_version.lpszExtensionDesc[sizeof m_version.lpszExtensionDesc - 1] = '\0';

  if (m_getFilterVersion) {
    std::memset(&m_filterVersion, 0, sizeof m_filterVersion);
    m_filterVersion.dwServerFilterVersion = HTTP_FILTER_REVISION;
    if (!CallGuarded([&] { return m_getFilterVersion(&m_filterVersion); }, "GetFilterVersion", error)) {
      // The extension half has started: give it its stop call before unloading.
      Terminate();
      Reset();
      return false;
    }
    m_filterVersion.lpszFilterDesc[sizeof m_filterVersion.lpszFilterDesc - 1] = '\0';
  }
  return true;
}

ExtensionModule::Report ExtensionModule::Status(bool withMetrics) const {
  Report report;
  if (!m_getStatus) return report;
  EXTENSION_STATUS status{};
  status.cbSize = sizeof status;
  // The figures grow with the bases listed; the buffer grows with them.
  std::string buffer(withMetrics ? 16384 : 0, '\0');
  BOOL fitted = FALSE;
  for (int attempt = 0; attempt < 4 && !fitted; ++attempt) {
    status.lpszMetrics = withMetrics ? buffer.data() : nullptr;
    status.cbMetrics = static_cast<DWORD>(buffer.size());
    try {
      fitted = m_getStatus(&status);
    } catch (...) {
      report.state = EXTENSION_STATE_NO_DATA;
      return report;
    }
    if (!fitted && status.cbMetrics <= buffer.size()) break;  // refused for another reason
    if (!fitted) buffer.resize(status.cbMetrics);
  }
  report.state = status.dwState;
  report.commands = status.lpszCommands ? status.lpszCommands : "";
  if (withMetrics && fitted) report.metrics.assign(buffer.data(), std::min<std::size_t>(status.cbMetrics, buffer.size()));
  return report;
}

void ExtensionModule::Terminate(DWORD flags) {
  if (!m_handle || m_terminated) return;
  m_terminated = true;
  try {
    m_terminateExtension(flags);
    if (m_filterProc && m_terminateFilter) m_terminateFilter(flags);
  } catch (const std::exception& e) {
    LogError(std::string("the extension's termination threw: ") + e.what());
  } catch (...) {
    LogError("the extension's termination threw an exception");
  }
}

void ExtensionModule::Unload() {
  if (!m_handle) return;
  Terminate();
  Reset();
}

}  // namespace host
