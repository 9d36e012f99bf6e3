#include "portico/extension.h"

#include <cstring>
#include <exception>

#include "platform/message_box.h"
#include "portico/request.h"
#include "portico/settings.h"

namespace portico {

CPorticoExtension::CPorticoExtension() = default;

CPorticoExtension::~CPorticoExtension() {
  // Unloading never overtakes the initialisation. An object that was never
  // started has nothing to wait for.
  if (m_thread.joinable()) {
    m_evReady.Wait();
    m_thread.join();
  }
  m_contents.Close();
  m_main.Close();
}

void CPorticoExtension::SetCacheDirectory(const std::string& directory) {
  m_main.SetCacheDirectory(directory);
  m_contents.SetCacheDirectory(directory);
  m_bCacheDirectorySet = true;
}

BOOL CPorticoExtension::GetExtensionVersion(HSE_VERSION_INFO* info) {
  if (info) {
    info->dwExtensionVersion = kExtensionVersion;
    std::strncpy(info->lpszExtensionDesc, kDescription, HSE_MAX_EXT_DLL_NAME_LEN - 1);
    info->lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN - 1] = '\0';
  }
  // A second start would open the catalogues twice while pages read them.
  bool expected = false;
  if (m_bStarted.compare_exchange_strong(expected, true)) m_thread = std::thread([this] { Initialise(); });
  return TRUE;
}

void CPorticoExtension::Initialise() {
  // The results are not examined: pages work with whatever the catalogues
  // hold, and the ready signal is set in any case.
  if (!m_bCacheDirectorySet) {
    // Never beside the programs: their directory need not be writable, and
    // servers of other bases may share it.
    std::string dir = ReadSetting("Setup", "CacheDir");
    SetCacheDirectory(dir.empty() ? kDefaultCacheDirectory : dir);
  }
  try {
    m_main.Init(nullptr);
  } catch (const std::exception& e) {
    MessageBox(std::string("main catalogue: ") + e.what(), "portico");
  } catch (...) {
    MessageBox("main catalogue: initialisation failed", "portico");
  }
  try {
    m_contents.m_bNoTable = TRUE;
    m_contents.Init(kContentsCatalogue);
  } catch (const std::exception& e) {
    MessageBox(std::string("contents catalogue: ") + e.what(), "portico");
  } catch (...) {
    MessageBox("contents catalogue: initialisation failed", "portico");
  }
  m_evReady.Set();
}

DWORD CPorticoExtension::HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  if (!ecb) return HSE_STATUS_ERROR;
  const char* query = ecb->lpszQueryString ? ecb->lpszQueryString : "";
  const bool get = ecb->lpszMethod && std::strcmp(ecb->lpszMethod, "GET") == 0;
  return Dispatch(ecb, query, get ? nullptr : query);
}

}  // namespace portico
