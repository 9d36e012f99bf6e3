// CSrvSrv: the table of acts, loaded from its cache file or built from the
// item names and the titles of the documents, and the queries on it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "biblion/act_cache.h"
#include "biblion/act_parse.h"
#include "biblion/srv_srv.h"
#include "concorda/doc_server.h"

namespace {

// The builder reads this many stored bytes of each document, GetTitle more.
constexpr DWORD kBuildPrefix = 500;
constexpr DWORD kTitlePrefix = 1000;

// The name of the item a descriptor holds, never past the descriptor.
std::string_view DescriptorName(const _FILEITEM* item) {
  const std::size_t room = item->wSize > 2 ? item->wSize - 2u : 0u;
  return std::string_view(item->szName, strnlen(item->szName, room));
}

// The rules by which the table is built from names and titles. A change of
// them changes the name of every cache file, so a table built by the old
// rules is never loaded (its format and its checks could not tell).
// 2: citations are found by the windows-1250 case table (non-letters match
// only themselves).
constexpr std::uint64_t kTableRules = 2;

// "<catalogue>-<16 hex digits>.itt": the digits are a digest (64-bit FNV-1a)
// of the rules and the bases' paths, so that catalogues over other bases
// (a second server sharing the directory) never share a cache file.
std::string CacheFileName(const std::string& catalogue, const std::vector<std::string>& baseFiles) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  auto mixByte = [&h](unsigned char c) { h = (h ^ c) * 0x100000001b3ull; };
  auto mix = [&](std::string_view bytes) {
    // Each part led by its length: "ab","c" differs from "a","bc".
    for (int k = 0; k < 8; ++k) mixByte(static_cast<unsigned char>(std::uint64_t{bytes.size()} >> (8 * k)));
    for (unsigned char c : bytes) mixByte(c);
  };
  mix(std::to_string(kTableRules));
  for (const std::string& file : baseFiles) {
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(file, ec);
    mix(ec ? file : canonical.string());
  }
  std::string name = catalogue;
  for (char& c : name)
    if (c == '/') c = '_';  // the catalogue name names a file, never a directory
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(h));
  return name + "-" + digest + ".itt";
}

}  // namespace

void CSrvSrv::LoadOrBuildTable() {
  std::vector<GUID> guids;
  std::vector<std::string> files;
  for (const CDocServer* base : m_aBases) {
    guids.push_back(base->GetGuid());
    files.push_back(base->GetFilePath());
  }
  if (!m_strCacheDir.empty()) m_strCachePath = m_strCacheDir + "/" + CacheFileName(m_strName, files);

  std::vector<biblion::ActEntry> entries;
  if (!m_strCachePath.empty() && biblion::LoadActCache(m_strCachePath, guids, files, entries)) {
    m_table.AssignSorted(std::move(entries));
    m_bTableFromCache = true;
    return;
  }
  BuildTable(entries);
  m_table.Assign(std::move(entries));
  if (m_strCachePath.empty()) return;
  // A cache that cannot be written costs every start a rebuild, nothing more;
  // the caller learns why (GetProblems).
  std::string why;
  if (!biblion::WriteActCache(m_strCachePath, guids, m_table.Entries(), &why))
    m_aProblems.push_back("No cache of the table of acts: cannot write " + m_strCachePath + " (" + why +
                          "); the table is built at every start");
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
      FileItemPtr item;
      try {
        item.reset(base->GetFile(j, text, kBuildPrefix, FALSE));
      } catch (const CException&) {
        continue;  // a damaged item gives no entry; the others still do
      }
      if (!item) continue;
      biblion::ActEntry entry;
      const DWORD combined = static_cast<DWORD>(i << 16) | j;
      if (biblion::MakeActEntry(DescriptorName(item.get()),
                                biblion::TerminatedText(text.GetBuffer(), static_cast<std::size_t>(text.GetLength())),
                                combined, entry))
        entries.push_back(entry);
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
  try {
    if (!FileItemPtr(GetFile(index, text, kTitlePrefix, FALSE))) return std::string();
  } catch (const CException&) {
    return std::string();
  }
  return std::string(
      biblion::ExtractTitle(biblion::TerminatedText(text.GetBuffer(), static_cast<std::size_t>(text.GetLength()))));
}
