#include "portico/extension.h"

#include <cstring>
#include <exception>

#include "platform/message_box.h"
#include "portico/request.h"

namespace portico {

namespace {

// The innermost request scope of the calling thread (a test may run a
// request of one extension object inside another's, hence the chain).
thread_local CPorticoExtension::RequestScope* t_request = nullptr;

}  // namespace

CPorticoExtension::RequestScope::RequestScope(const CPorticoExtension& owner) : m_owner(&owner), m_outer(t_request) {
  t_request = this;
}

CPorticoExtension::RequestScope::~RequestScope() { t_request = m_outer; }

CPorticoExtension::CPorticoExtension() : m_empty(std::make_unique<CGeneration>()) {}

CPorticoExtension::~CPorticoExtension() {
  // Unloading never overtakes the opening of the bases.
  m_generations.Stop();
}

void CPorticoExtension::SetCacheDirectory(const std::string& directory) { m_generations.SetCacheDirectory(directory); }

BOOL CPorticoExtension::GetExtensionVersion(HSE_VERSION_INFO* info) {
  if (info) {
    info->dwExtensionVersion = kExtensionVersion;
    std::strncpy(info->lpszExtensionDesc, kDescription, HSE_MAX_EXT_DLL_NAME_LEN - 1);
    info->lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN - 1] = '\0';
  }
  // A second start would open the bases twice while pages read them.
  bool expected = false;
  if (m_bStarted.compare_exchange_strong(expected, true)) m_generations.Start([this] { m_evReady.Set(); });
  return TRUE;
}

void CPorticoExtension::Stop() {
  m_generations.Stop();
  m_visits.Stop();
}

CGeneration& CPorticoExtension::InService() const {
  for (RequestScope* r = t_request; r; r = r->m_outer) {
    if (r->m_owner != this) continue;
    // Before the first generation is open the request takes nothing yet:
    // a page that waits for it then gets it.
    if (!r->m_generation && IsReady()) r->m_generation = m_generations.Current();
    return r->m_generation ? *r->m_generation : *m_empty;
  }
  std::shared_ptr<CGeneration> current = IsReady() ? m_generations.Current() : nullptr;
  return current ? *current : *m_empty;
}

DWORD CPorticoExtension::HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  if (!ecb) return HSE_STATUS_ERROR;
  const char* query = ecb->lpszQueryString ? ecb->lpszQueryString : "";
  const bool get = ecb->lpszMethod && std::strcmp(ecb->lpszMethod, "GET") == 0;
  return Dispatch(ecb, query, get ? nullptr : query);
}

}  // namespace portico
