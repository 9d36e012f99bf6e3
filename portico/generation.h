// One generation of the extension's bases: the two catalogues (the main one
// and the contents catalogue "TOC") opened over the bases the registry file
// listed at one moment, the caches of what the pages made from them, and
// what identified the listed files on disk when they were opened. A request
// works with one generation from start to end (extension.h), so a page never
// mixes two; a publication opens a new generation beside the one in service
// (generations.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "platform/file_identity.h"
#include "platform/registry.h"
#include "portico/page_cache.h"
#include "portico/publications.h"
#include "portico/range_cache.h"
#include "portico/search_cache.h"

namespace portico {

// The bases a registry file lists for the two catalogues, with each file's
// identity on disk (none: missing). Two equal listings name the same files
// with the same contents, as far as the file system can tell.
struct CBaseListing {
  struct Entry {
    std::string path;
    std::optional<FileIdentity> identity;
    bool operator==(const Entry&) const = default;
  };
  std::vector<Entry> main;      // ...\File Server\biblion, in registry order
  std::vector<Entry> contents;  // ...\File Server\TOC
  bool operator==(const CBaseListing&) const = default;

  // What `registry` lists, the files examined now. Values that are not
  // strings name no base (as the catalogue treats them).
  static CBaseListing Read(const CRegistry& registry);
};

// A base as a generation opened it, for reports.
struct CBaseReport {
  std::string catalogue;  // "biblion" or "TOC"
  DWORD number = 0;       // base number within its catalogue
  std::string path;
  GUID guid{};
  DWORD documents = 0;
};

class CGeneration {
 public:
  static constexpr const char* kContentsCatalogue = "TOC";

  // An empty generation: no base, empty caches (the one pages see before
  // the first generation is open).
  CGeneration() = default;
  CGeneration(const CGeneration&) = delete;
  CGeneration& operator=(const CGeneration&) = delete;
  // Closes both catalogues.
  ~CGeneration();

  // Opens both catalogues over the listed bases (the contents catalogue
  // without a table of acts), keeping their table caches in `cacheDirectory`
  // when it is set. Bases that cannot be opened are left out with a message,
  // as at every start. The page and search caches count their lookups into
  // `lookups` when given (it must outlive the generation). Call once, before
  // the generation is shared.
  void Open(std::uint64_t number, const CBaseListing& listing, const std::optional<std::string>& cacheDirectory,
            CLookupCounters* lookups = nullptr);

  std::uint64_t Number() const { return m_number; }
  const CBaseListing& Listing() const { return m_listing; }
  std::chrono::system_clock::time_point OpenedAt() const { return m_openedAt; }
  // Listed paths the catalogues could not open.
  const std::vector<std::string>& Failed() const { return m_failed; }
  // The bases in service. Their documents are counted at the first call:
  // that reads the header of every item (about 0.1-0.8 s for three bases of
  // 60,000 documents), which opening, and so the first search after a start
  // or a publication, does not wait for.
  const std::vector<CBaseReport>& Bases() const;

  // Read-only after Open; safe from any number of threads.
  const CSrvSrv& Main() const { return m_main; }
  const CSrvSrv& Contents() const { return m_contents; }
  // Shared by the requests of this generation; they serialise their own use.
  CSearchCache& SearchCache() { return m_searchCache; }
  CRangeCache& RangeCache() { return m_rangeCache; }
  CPageCache& PageCache() { return m_pageCache; }
  CPageCache& ReaderPageCache() { return m_readerPageCache; }
  // Compares this generation's table of acts with the record once.
  CPublications& Publications() { return m_publications; }

 private:
  void OpenCatalogue(CSrvSrv& catalogue, const char* name, const std::vector<CBaseListing::Entry>& listed,
                     const std::optional<std::string>& cacheDirectory);

  std::uint64_t m_number = 0;
  CBaseListing m_listing;
  std::chrono::system_clock::time_point m_openedAt{};
  std::vector<std::string> m_failed;
  mutable std::once_flag m_documentsCounted;
  mutable std::vector<CBaseReport> m_bases;
  CSrvSrv m_main;
  CSrvSrv m_contents;
  CSearchCache m_searchCache;
  CRangeCache m_rangeCache;
  CPageCache m_pageCache;
  CPageCache m_readerPageCache;
  CPublications m_publications;
};

}  // namespace portico
