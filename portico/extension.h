// The extension object: one per loaded library. It owns the generations of
// the bases (generations.h: the two catalogues - the main one and the
// contents catalogue "TOC" - opened over the bases the registry lists, with
// the caches of what pages made from them), and the ready signal that every
// page waits for before it touches a catalogue. The exported entry points
// (entry_points.cpp) act on TheExtension(); tests make objects of their own.
//
// Life: constructed with no generation. GetExtensionVersion starts the
// thread that opens the first generation and returns at once; once it is
// in service the ready signal is set and stays set, and the thread watches
// for publications (a base renamed over a live one, a changed list of
// bases). Stop (TerminateExtension) ends the watch; the destructor waits for
// it, then closes every generation.
//
// Requests: Dispatch may run on any number of threads at once. The first
// time a request asks for a catalogue or a cache (Main, Contents,
// SearchCache, PageCache) it takes the generation in service and keeps it
// to its end, so a page never mixes two generations and the bases it reads
// stay open until it is done, however soon a publication follows. Pages hold
// no lock of the extension while they use the catalogues, which are safe for
// concurrent readers.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "biblion/srv_srv.h"
#include "platform/isapi.h"
#include "platform/sync.h"
#include "portico/generations.h"
#include "portico/page_cache.h"
#include "portico/search_cache.h"
#include "portico/visit_counter.h"

namespace portico {

class CPorticoExtension {
 public:
  static constexpr DWORD kExtensionVersion = 0x00020000;
  static constexpr const char* kDescription = "This is a sample Vamu Server Application";
  // Name of the contents catalogue's configuration.
  static constexpr const char* kContentsCatalogue = CGeneration::kContentsCatalogue;

  CPorticoExtension();
  CPorticoExtension(const CPorticoExtension&) = delete;
  CPorticoExtension& operator=(const CPorticoExtension&) = delete;
  ~CPorticoExtension();

  // Start operation: fills the version record and starts the initialisation
  // (once; a further call only fills the record). Returns TRUE.
  BOOL GetExtensionVersion(HSE_VERSION_INFO* info);
  // Stop operation: no more publications (an opening in progress is waited
  // for), and the visits counted so far are written. Requests may still run
  // (their visits are written when the object goes).
  void Stop();
  // Request operation: Dispatch with the query string, and the query string
  // again as third value unless the method is exactly "GET".
  DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
  // Runs the page the query names (see dispatch.cpp). Never throws: a failing
  // page is reported as one log line with the query string (caption: the
  // third value) and answered with HSE_STATUS_ERROR.
  DWORD Dispatch(EXTENSION_CONTROL_BLOCK* ecb, const char* query, const char* third);

  // Blocks until the first generation is in service (at once afterwards).
  void WaitReady() const { m_evReady.Wait(); }
  bool IsReady() const { return m_evReady.IsSet(); }
  bool Started() const { return m_bStarted.load(); }

  // The catalogues of the request's generation; use them only after
  // WaitReady (before, they are empty). Outside a request (tests, tools) the
  // generation in service, valid until the next publication.
  const CSrvSrv& Main() const { return InService().Main(); }
  const CSrvSrv& Contents() const { return InService().Contents(); }
  // The result lists of the Search page, shared by the requests of one
  // generation (it serialises its own use).
  CSearchCache& SearchCache() { return InService().SearchCache(); }
  // The acts within the bounds of recent searches, of the request's generation.
  CRangeCache& RangeCache() { return InService().RangeCache(); }
  // The Topic pages of large documents, shared by the requests of one generation.
  CPageCache& PageCache() { return InService().PageCache(); }

  // The pages without frames of whole acts (reader_page.cpp), keyed by the
  // index of the version's document, shared by the requests of one generation.
  CPageCache& ReaderPageCache() { return InService().ReaderPageCache(); }
  // What the publications of bases added (the feed of new acts), as the
  // request's generation sees it.
  CPublications& Publications() { return InService().Publications(); }

  // The visits of the frameset page (Main), written to the registry at most
  // once a second.
  CVisitCounter& Visits() { return m_visits; }

  // The generations, for reports and tests.
  const CGenerations& Generations() const { return m_generations; }

  // Where both catalogues keep their cache files, instead of the registry's
  // Setup\CacheDir (default kDefaultCacheDirectory); empty: no cache. Must be
  // called before GetExtensionVersion.
  void SetCacheDirectory(const std::string& directory);
  // The state directory of an installation whose registry names none.
  static constexpr const char* kDefaultCacheDirectory = CGenerations::kDefaultCacheDirectory;

 private:
  // The generation of the calling request (taken on first use), or the one
  // in service outside a request, or an empty one before the first is open.
  CGeneration& InService() const;

 public:
  // While alive (Dispatch), the calling thread's request of this extension
  // keeps the generation it first used.
  class RequestScope {
   public:
    explicit RequestScope(const CPorticoExtension& owner);
    ~RequestScope();
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;

   private:
    friend class CPorticoExtension;
    const CPorticoExtension* m_owner;
    std::shared_ptr<CGeneration> m_generation;
    RequestScope* m_outer;
  };

 private:

  mutable CEvent m_evReady;
  std::atomic<bool> m_bStarted{false};
  CGenerations m_generations;
  std::unique_ptr<CGeneration> m_empty;
  CVisitCounter m_visits;
};

// The one extension object of the library, behind the exported entry points.
CPorticoExtension& TheExtension();

}  // namespace portico
