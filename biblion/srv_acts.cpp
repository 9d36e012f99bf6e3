// CSrvSrv: the table of acts, loaded from its cache file or built from the
// item names and the titles of the documents, and the queries on it.
#include <algorithm>
#include <cstring>

#include "biblion/act_cache.h"
#include "biblion/act_parse.h"
#include "biblion/srv_srv.h"
#include "concorda/doc_server.h"
#include "platform/paths.h"

namespace {

// The builder reads this many stored bytes of each document, GetTitle more.
constexpr DWORD kBuildPrefix = 500;
constexpr DWORD kTitlePrefix = 1000;

// The name of the item a descriptor holds, never past the descriptor.
std::string_view DescriptorName(const _FILEITEM* item) {
  const std::size_t room = item->wSize > 2 ? item->wSize - 2u : 0u;
  return std::string_view(item->szName, strnlen(item->szName, room));
}

}  // namespace

void CSrvSrv::LoadOrBuildTable() {
  std::string dir;
  if (m_bCacheDirSet)
    dir = m_strCacheDir;
  else if (auto module = LoadedModuleDirectory("portico"))
    dir = *module;
  else
    dir = DirectoryOf(m_aBases.front()->GetFilePath());
  if (!dir.empty()) {
    std::string file = m_strName + ".itt";
    for (char& c : file)
      if (c == '/') c = '_';  // the catalogue name names a file, never a directory
    m_strCachePath = dir + "/" + file;
  }

  std::vector<GUID> guids;
  std::vector<std::string> files;
  for (const CDocServer* base : m_aBases) {
    guids.push_back(base->GetGuid());
    files.push_back(base->GetFilePath());
  }
  std::vector<biblion::ActEntry> entries;
  if (!m_strCachePath.empty() && biblion::LoadActCache(m_strCachePath, guids, files, entries)) {
    m_table.AssignSorted(std::move(entries));
    m_bTableFromCache = true;
    return;
  }
  BuildTable(entries);
  m_table.Assign(std::move(entries));
  // A cache that cannot be written costs the next start a rebuild, nothing more.
  if (!m_strCachePath.empty()) biblion::WriteActCache(m_strCachePath, guids, m_table.Entries());
}

void CSrvSrv::BuildTable(std::vector<biblion::ActEntry>& entries) const {
  CMemFile text(4096);
  for (std::size_t i = 0; i < m_aBases.size(); ++i) {
    CDocServer* base = m_aBases[i];
    const DWORD slots = std::min(base->GetSize(), biblion::kSlotsPerBase);
    for (DWORD j = 0; j < slots; ++j) {
      if (base->IsSystemFile(j)) continue;
      // A prefix read does not shorten the file: empty it for each document.
      text.SetLength(0);
      _FILEITEM* item = nullptr;
      try {
        item = base->GetFile(j, text, kBuildPrefix, FALSE);
      } catch (const CException&) {
        continue;  // a damaged item gives no entry; the others still do
      }
      if (!item) continue;
      biblion::ActEntry entry;
      const DWORD combined = static_cast<DWORD>(i << 16) | j;
      if (biblion::MakeActEntry(DescriptorName(item),
                                biblion::TerminatedText(text.GetBuffer(), static_cast<std::size_t>(text.GetLength())),
                                combined, entry))
        entries.push_back(entry);
      FreeFileItem(item);
    }
  }
}

BOOL CSrvSrv::GetYears(_RNP r, std::vector<DWORD>& out) const {
  m_table.GetYears(r, out);
  return TRUE;
}

BOOL CSrvSrv::GetNumbers(_RNP r, std::vector<DWORD>& out) const {
  m_table.GetNumbers(r, out);
  return TRUE;
}

BOOL CSrvSrv::GetPositions(_RNP r, std::vector<DWORD>& out) const {
  m_table.GetPositions(r, out);
  return TRUE;
}

_RNP CSrvSrv::GetSubPositions(_RNP r, std::vector<DWORD>& out) const { return m_table.GetSubPositions(r, out); }

BOOL CSrvSrv::FindFromRNP(const _RNP* from, const _RNP* to, int mode, std::vector<DWORD>& out) const {
  if (!from || !to) {
    out.clear();
    return FALSE;
  }
  return m_table.FindFromRNP(*from, *to, mode, out) ? TRUE : FALSE;
}

DWORD CSrvSrv::GetIndex(_RNP first, _RNP second) const { return m_table.GetIndex(first, second); }

std::string CSrvSrv::GetTitle(_RNP first, _RNP second) const { return GetTitleOf(m_table.GetIndex(first, second)); }

std::string CSrvSrv::GetTitleOf(DWORD index) const {
  if (index == kNoItem) return std::string();
  CMemFile text(4096);
  _FILEITEM* item = nullptr;
  try {
    item = GetFile(index, text, kTitlePrefix, FALSE);
  } catch (const CException&) {
    return std::string();
  }
  if (!item) return std::string();
  FreeFileItem(item);
  return std::string(
      biblion::ExtractTitle(biblion::TerminatedText(text.GetBuffer(), static_cast<std::size_t>(text.GetLength()))));
}
