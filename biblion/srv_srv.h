// `CSrvSrv`, the catalogue of document bases: the bases listed in the
// registry, opened read-only, presented as one collection. Items are numbered
// by combined indices (base number << 16 | slot); the catalogue keeps the
// table of acts by journal, year, number and position, and runs word and key
// queries over all bases. The web-server extension owns two catalogues (the
// main one and "TOC"); the base tool opens one over the bases it is given.
//
//   CSrvSrv cat;
//   if (cat.Init(nullptr)) {                  // bases of ...\File Server\biblion
//     CMemFile doc(4096);
//     FileItemPtr item(cat.GetFile(3, doc, 0, FALSE));   // null: no such item
//   }
//
// Threads: Init and Close are for one thread while nobody else uses the
// catalogue. Between them every other member may be called from any number
// of threads at once: the catalogue holds no lock and no mutable state of its
// own (the bases, the table of acts and the name are fixed by Init); each
// read goes through the file mutex of the base that holds the item, and each
// search keeps its state in its own handle.
//
// Ownership: descriptors (`_FILEITEM`) returned by GetItem and GetFile belong
// to the caller, who holds them in a FileItemPtr (kasten/file_item.h) or
// releases them with FreeFileItem. Search handles belong
// to the caller until FindNextDoc reports the end (which releases them) or
// FindClose. Out arrays are the caller's.
//
// Failures: lookups answer 0xFFFFFFFF or null; reading a damaged item throws
// the store's exceptions (CFileException, CZLibException) to the caller, as
// CFileServer::GetFile does. Init answers TRUE or FALSE; what it had to leave
// out (bases that cannot be opened) or could not do (write the cache of the
// table, which costs the next start a rebuild) it lists in GetProblems, one
// line each naming the file and what is wrong, for the caller to tell the
// operator: the catalogue shows no message of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "biblion/act_table.h"
#include "biblion/rnp.h"
#include "kasten/file_item.h"
#include "platform/file.h"
#include "platform/windows_types.h"

class CDocServer;

class CSrvSrv {
 public:
  static constexpr DWORD kNoItem = 0xFFFFFFFF;
  // The key below which each catalogue lists its bases, one value per base.
  static constexpr const char* kRegistryKey = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server";
  static constexpr const char* kDefaultName = "biblion";

  CSrvSrv();
  CSrvSrv(const CSrvSrv&) = delete;
  CSrvSrv& operator=(const CSrvSrv&) = delete;
  ~CSrvSrv();

  // Set to nonzero before Init: no table of acts is loaded or built (the
  // extension's contents catalogue needs none).
  BOOL m_bNoTable;

  // Opens the bases listed under kRegistryKey\<name> in the registry file
  // (CRegistry::DefaultPath), in the order of the file: that order fixes the
  // base numbers. name null means "biblion". Values that name a missing or
  // unopenable container are left out (listed in GetProblems) and take no
  // base number.
  // Then loads the table of acts from the cache file or builds it.
  // TRUE when at least one base is open; FALSE also when this catalogue is
  // open already.
  BOOL Init(const char* name);
  // The same over a list of container paths instead of the registry (the
  // tools); name names the catalogue and its cache file.
  BOOL Init(const char* name, const std::vector<std::string>& paths);
  // The directory of the table's cache file, "<name>-<digest>.itt", the digest
  // taken from the bases' paths so that catalogues over other bases never
  // share a file. Default (and empty): no cache, the table is built at every
  // Init. A cache that cannot be written is logged and costs the next start a
  // rebuild (listed in GetProblems). Set before Init.
  void SetCacheDirectory(const std::string& directory);
  // Closes and releases every base; the table of acts stays until destruction.
  void Close();

  const std::string& GetName() const { return m_strName; }
  // Number of open bases, and the container file of base i (empty when none).
  DWORD GetBaseCount() const { return static_cast<DWORD>(m_aBases.size()); }
  std::string GetBasePath(DWORD base) const;
  // The GUID of base i (all zero when there is none), and its number of
  // documents: slots that hold an item, the index's own items not counted
  // (reads every slot's record: for reports, not for pages).
  GUID GetBaseGuid(DWORD base) const;
  DWORD CountBaseDocuments(DWORD base) const;
  // The cache file this catalogue reads and writes (empty: none), and
  // whether Init loaded the table from it rather than building it.
  const std::string& GetCachePath() const { return m_strCachePath; }
  bool TableFromCache() const { return m_bTableFromCache; }
  // What the last Init left out or could not do, in the order met, one line
  // each naming the file (or registry value) and what is wrong: "No base
  // PATH", "Cannot open base PATH (why)", "Too many bases; ignored: PATH",
  // "Not a base path: KEY\\VALUE", "No cache of the table of acts: cannot
  // write PATH (why); ...". Empty when all went well.
  const std::vector<std::string>& GetProblems() const { return m_aProblems; }

  // --- items (combined indices) ---
  // Sum of the slot counts of all bases.
  DWORD GetSize() const;
  // The combined index of running number `ordinal` over the slots of all
  // bases: base i holds the ordinals from the slots before it up to and
  // including that sum plus its own slot count (the last names no item);
  // 0xFFFFFFFF past the last base.
  DWORD GetIndex(DWORD ordinal) const;
  // The combined index of `name` in the first base (in base order) that holds
  // it, or 0xFFFFFFFF. A slot beyond the 65536 a combined index can address
  // is not reported.
  DWORD GetItemIndex(const char* name) const;
  // Descriptor of an item, or null (unknown base number, empty slot).
  _FILEITEM* GetItem(DWORD combined) const;
  _FILEITEM* GetItem(const char* name) const;
  // Contents of an item written into dst as CFileServer::GetFile does
  // (limit 0: all; else limit stored bytes or limit percent); descriptor or null.
  _FILEITEM* GetFile(DWORD combined, CFile& dst, DWORD limit, BOOL percent) const;
  _FILEITEM* GetFile(const char* name, CFile& dst, DWORD limit, BOOL percent) const;
  static void FreeFileItem(_FILEITEM* item);
  static void* bsearch(const void* key, const void* base, std::size_t count, std::size_t width,
                       int (*compare)(const void*, const void*));
  static void qsort(void* base, std::size_t count, std::size_t width, int (*compare)(const void*, const void*));

  // --- the table of acts (see CActTable for the exact selections) ---
  // Append the distinct years of r's kind / numbers of its year / positions
  // of its number, ascending; nothing when none. Always TRUE.
  BOOL GetYears(_RNP r, std::vector<DWORD>& out) const;
  BOOL GetNumbers(_RNP r, std::vector<DWORD>& out) const;
  BOOL GetPositions(_RNP r, std::vector<DWORD>& out) const;
  // Appends the versions (second references) of the act r and returns r
  // completed with the act's number and prefix flag.
  _RNP GetSubPositions(_RNP r, std::vector<DWORD>& out) const;
  // Replaces out with the combined indices of the acts whose kind, year,
  // number and position each lie within from..to, grouped by mode (0, 1, 2).
  // FALSE when none does or the mode is unknown.
  BOOL FindFromRNP(const _RNP* from, const _RNP* to, int mode, std::vector<DWORD>& out) const;
  // The combined index of the document with exactly these references, or 0xFFFFFFFF.
  DWORD GetIndex(_RNP first, _RNP second) const;
  // The title of that document (from its first 1000 stored bytes); empty
  // when there is no such document, it cannot be read or has no title.
  std::string GetTitle(_RNP first, _RNP second) const;
  // The same for the document at a combined index.
  std::string GetTitleOf(DWORD combined) const;
  // The table itself, for the tools.
  const std::vector<biblion::ActEntry>& GetActEntries() const { return m_table.Entries(); }

  // --- search across bases ---
  // The value that stands for "nothing found" instead of a handle.
  static void* NoFind() { return reinterpret_cast<void*>(~std::uintptr_t(0)); }
  // Runs the word query on every base. Returns a search handle and stores
  // the first result in *first, and 0 in *flag (when given); NoFind() when no
  // base has a result (*first unchanged). Results come base by base.
  void* FindFirstDoc(const char* query, DWORD* first, BYTE* flag) const;
  // Runs the word query on every base within one budget (the limits of
  // concorda::QueryLimits bound the whole search): the combined indices
  // found, base by base, and TRUE; or FALSE with `items` empty and the limit
  // the query passed in *refusal (when given). A null query finds nothing.
  BOOL FindDocuments(const char* query, std::vector<DWORD>& items, std::string* refusal = nullptr) const;
  // The same for ';'-separated document keys.
  void* FindFirstDocFromKey(const char* keys, DWORD* first) const;
  // Stores the next result and returns TRUE; at the end releases the handle
  // and returns FALSE (the handle must not be used afterwards).
  static BOOL FindNextDoc(void* handle, DWORD* next);
  // Releases a handle not yet ended by FindNextDoc; NoFind() and null are ignored.
  static BOOL FindClose(void* handle);
  // Total result count of the bases still searching (a base's results
  // already handed out still count until it reports its end).
  static DWORD GetFindItems(void* handle);
  // The words (upper-case) of all bases that a query word with markers
  // ("~umowa", "^lodz"; concorda/query_markers.h) stands for, ascending, each
  // once; result fragments show them in bold (srv_word_forms.cpp).
  std::vector<std::string> MarkedTermWords(std::string_view term) const;

  // --- case-insensitive search (the catalogue's own case rule, text_search.h) ---
  // First occurrence of pattern in text, or null; null text or pattern: null.
  static const char* StrStrN(const char* text, const char* pattern);
  // First byte of text equal to c or to its other-case partner, or null.
  static const char* StrChrU(const char* text, char c);

 private:
  BOOL OpenBases(const std::vector<std::string>& paths);
  void LoadOrBuildTable();
  void BuildTable(std::vector<biblion::ActEntry>& entries) const;
  CDocServer* BaseOf(DWORD combined) const;

  std::vector<CDocServer*> m_aBases;  // owned, in base-number order
  biblion::CActTable m_table;
  std::string m_strName;
  std::string m_strCacheDir;     // as set; see SetCacheDirectory
  std::string m_strCachePath;    // chosen by Init
  bool m_bTableFromCache = false;
  std::vector<std::string> m_aProblems;  // see GetProblems
};

// Owns a search handle of FindFirstDoc or FindFirstDocFromKey: closes it
// when the owner goes away, unless the search ran to its end, where
// FindNextDoc released it itself (an exception on the way closes it too).
class CSearchHandle {
 public:
  explicit CSearchHandle(void* handle) : m_h(handle) {}
  CSearchHandle(const CSearchHandle&) = delete;
  CSearchHandle& operator=(const CSearchHandle&) = delete;
  ~CSearchHandle() { CSrvSrv::FindClose(m_h); }
  bool Found() const { return m_h && m_h != CSrvSrv::NoFind(); }
  // The next result; false at the end, when the handle is released.
  bool Next(DWORD* next) {
    if (!Found()) return false;
    if (CSrvSrv::FindNextDoc(m_h, next)) return true;
    m_h = nullptr;
    return false;
  }

 private:
  void* m_h;
};
