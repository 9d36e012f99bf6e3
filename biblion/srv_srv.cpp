// CSrvSrv: opening the bases and reading items by combined index.
#include "biblion/srv_srv.h"

#include <algorithm>
#include <memory>

#include "concorda/doc_server.h"
#include "platform/registry.h"

namespace {

// Base number 0xFFFF with slot 0xFFFF would spell "no item".
constexpr std::size_t kMaxBases = 0xFFFF;

}  // namespace

CSrvSrv::CSrvSrv() : m_bNoTable(FALSE) {}

CSrvSrv::~CSrvSrv() {
  Close();
  m_table.Clear();
}

BOOL CSrvSrv::Init(const char* name) {
  const std::string catalogue = name ? name : kDefaultName;
  const std::string key = std::string(kRegistryKey) + "\\" + catalogue;
  std::vector<std::string> paths, notPaths;
  for (const RegValue& v : CRegistry::Load(CRegistry::DefaultPath()).Values(key)) {
    if (v.type == RegValue::String)
      paths.push_back(v.text);
    else
      notPaths.push_back("Not a base path: " + key + "\\" + v.name);
  }
  const BOOL open = Init(catalogue.c_str(), paths);
  // The registry was read first: its problems come first.
  m_aProblems.insert(m_aProblems.begin(), notPaths.begin(), notPaths.end());
  return open;
}

BOOL CSrvSrv::Init(const char* name, const std::vector<std::string>& paths) {
  if (!m_aBases.empty()) return FALSE;
  m_strName = name ? name : kDefaultName;
  m_table.Clear();
  m_bTableFromCache = false;
  m_strCachePath.clear();
  m_aProblems.clear();
  if (!OpenBases(paths)) return FALSE;
  if (!m_bNoTable) LoadOrBuildTable();
  return TRUE;
}

BOOL CSrvSrv::OpenBases(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (m_aBases.size() == kMaxBases) {
      m_aProblems.push_back("Too many bases; ignored: " + path);
      continue;
    }
    // A base that is not there must not be created: the catalogue only reads.
    if (!FileExists(path)) {
      m_aProblems.push_back("No base " + path);
      continue;
    }
    auto base = std::make_unique<CDocServer>();
    std::string why = "not a base, or its header or table is damaged";
    BOOL open = FALSE;
    try {
      open = base->Init(path.c_str(), nullptr, CFile::modeRead);
    } catch (const CException& e) {
      open = FALSE;
      why = e.GetErrorMessage();
    }
    if (!open) {
      m_aProblems.push_back("Cannot open base " + path + " (" + why + ")");
      continue;
    }
    m_aBases.push_back(base.release());
  }
  return m_aBases.empty() ? FALSE : TRUE;
}

void CSrvSrv::SetCacheDirectory(const std::string& directory) { m_strCacheDir = directory; }

void CSrvSrv::Close() {
  for (CDocServer* base : m_aBases) {
    base->Close();
    delete base;
  }
  m_aBases.clear();
}

std::string CSrvSrv::GetBasePath(DWORD base) const {
  return base < m_aBases.size() ? m_aBases[base]->GetFilePath() : std::string();
}

GUID CSrvSrv::GetBaseGuid(DWORD base) const { return base < m_aBases.size() ? m_aBases[base]->GetGuid() : GUID{}; }

DWORD CSrvSrv::CountBaseDocuments(DWORD base) const {
  if (base >= m_aBases.size()) return 0;
  CDocServer* b = m_aBases[base];
  DWORD documents = 0;
  for (DWORD slot = 0; slot < b->GetSize(); ++slot) {
    try {
      if (!b->IsSystemFile(slot) && b->GetFileSize(slot) != 0) ++documents;
    } catch (const CException&) {
      // A damaged record is no document the pages could show.
    }
  }
  return documents;
}

// --- items ----------------------------------------------------------------------

DWORD CSrvSrv::GetSize() const {
  DWORD total = 0;
  for (const CDocServer* base : m_aBases) total += base->GetSize();
  return total;
}

DWORD CSrvSrv::GetIndex(DWORD ordinal) const {
  // The first base whose slots, added to those of the bases before it, reach
  // the ordinal: an ordinal equal to that sum names the slot just past the
  // base's last one (no item), as ordinals have always been counted here.
  ULONGLONG passed = 0;
  for (std::size_t i = 0; i < m_aBases.size(); ++i) {
    const DWORD slots = m_aBases[i]->GetSize();
    if (passed + slots >= ordinal) {
      const ULONGLONG slot = ordinal - passed;
      // A slot past 0xFFFF would alias another item of the base: none.
      return slot < biblion::kSlotsPerBase ? static_cast<DWORD>(i << 16) | static_cast<DWORD>(slot) : kNoItem;
    }
    passed += slots;
  }
  return kNoItem;
}

DWORD CSrvSrv::GetItemIndex(const char* name) const {
  if (!name) return kNoItem;
  for (std::size_t i = 0; i < m_aBases.size(); ++i) {
    const DWORD slot = m_aBases[i]->GetItemIndex(name);
    // A slot past 0xFFFF would alias another item of the base: not reported.
    if (slot != kNoItem && slot < biblion::kSlotsPerBase) return static_cast<DWORD>(i << 16) | slot;
  }
  return kNoItem;
}

CDocServer* CSrvSrv::BaseOf(DWORD combined) const {
  if (combined == kNoItem) return nullptr;
  const DWORD base = combined >> 16;
  return base < m_aBases.size() ? m_aBases[base] : nullptr;
}

_FILEITEM* CSrvSrv::GetItem(DWORD combined) const {
  CDocServer* base = BaseOf(combined);
  return base ? base->GetItem(combined & 0xFFFF) : nullptr;
}

_FILEITEM* CSrvSrv::GetItem(const char* name) const { return GetItem(GetItemIndex(name)); }

_FILEITEM* CSrvSrv::GetFile(DWORD combined, CFile& dst, DWORD limit, BOOL percent) const {
  CDocServer* base = BaseOf(combined);
  return base ? base->GetFile(combined & 0xFFFF, dst, limit, percent) : nullptr;
}

_FILEITEM* CSrvSrv::GetFile(const char* name, CFile& dst, DWORD limit, BOOL percent) const {
  return GetFile(GetItemIndex(name), dst, limit, percent);
}

void CSrvSrv::FreeFileItem(_FILEITEM* item) { CFileServer::FreeFileItem(item); }

void* CSrvSrv::bsearch(const void* key, const void* base, std::size_t count, std::size_t width,
                       int (*compare)(const void*, const void*)) {
  return CFileServer::bsearch(key, base, count, width, compare);
}

void CSrvSrv::qsort(void* base, std::size_t count, std::size_t width, int (*compare)(const void*, const void*)) {
  CFileServer::qsort(base, count, width, compare);
}
