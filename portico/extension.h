// The extension object: one per loaded library. It owns the two catalogues
// (the main one and the contents catalogue "TOC"), the initialisation thread
// that opens them, and the ready signal that every page waits for before it
// touches a catalogue. The exported entry points (entry_points.cpp) act on
// TheExtension(); tests make objects of their own.
//
// Life: constructed with both catalogues empty. GetExtensionVersion starts the
// initialisation thread and returns at once; the thread initialises the main
// catalogue, then the contents catalogue (no table of acts), then sets the
// ready signal, which stays set. Dispatch may run on any number of threads
// at once; pages hold no lock of the extension while they use the catalogues,
// which are safe for concurrent readers once initialised. The destructor
// waits for the initialisation to end (when it was started), then closes
// both catalogues; the search-result and page caches go with the object.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "biblion/srv_srv.h"
#include "platform/isapi.h"
#include "platform/sync.h"
#include "portico/page_cache.h"
#include "portico/publications.h"
#include "portico/search_cache.h"

namespace portico {

class CPorticoExtension {
 public:
  static constexpr DWORD kExtensionVersion = 0x00020000;
  static constexpr const char* kDescription = "This is a sample Vamu Server Application";
  // Name of the contents catalogue's configuration.
  static constexpr const char* kContentsCatalogue = "TOC";

  CPorticoExtension();
  CPorticoExtension(const CPorticoExtension&) = delete;
  CPorticoExtension& operator=(const CPorticoExtension&) = delete;
  ~CPorticoExtension();

  // Start operation: fills the version record and starts the initialisation
  // (once; a further call only fills the record). Returns TRUE.
  BOOL GetExtensionVersion(HSE_VERSION_INFO* info);
  // Request operation: Dispatch with the query string, and the query string
  // again as third value unless the method is exactly "GET".
  DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
  // Runs the page the query names (see dispatch.cpp). Never throws: a failing
  // page is reported as one log line with the query string (caption: the
  // third value) and answered with HSE_STATUS_ERROR.
  DWORD Dispatch(EXTENSION_CONTROL_BLOCK* ecb, const char* query, const char* third);

  // Blocks until both catalogues are initialised (at once afterwards).
  void WaitReady() const { m_evReady.Wait(); }
  bool IsReady() const { return m_evReady.IsSet(); }
  bool Started() const { return m_bStarted.load(); }

  // The catalogues; use them only after WaitReady.
  const CSrvSrv& Main() const { return m_main; }
  const CSrvSrv& Contents() const { return m_contents; }

  // The result lists of the Search page, shared by all requests (it
  // serialises its own use).
  CSearchCache& SearchCache() { return m_searchCache; }
  // The Topic pages of large documents, shared by all requests.
  CPageCache& PageCache() { return m_pageCache; }
  // The pages without frames of whole acts (reader_page.cpp), keyed by the
  // index of the version's document.
  CPageCache& ReaderPageCache() { return m_readerPageCache; }
  // What the publications of bases added (the feed of new acts).
  CPublications& Publications() { return m_publications; }

  // Where both catalogues keep their cache files, instead of the registry's
  // Setup\CacheDir (default kDefaultCacheDirectory); empty: no cache. Must be
  // called before GetExtensionVersion.
  void SetCacheDirectory(const std::string& directory);
  // The state directory of an installation whose registry names none.
  static constexpr const char* kDefaultCacheDirectory = "/var/cache/vamu";

 private:
  void Initialise();

  mutable CEvent m_evReady;
  CSrvSrv m_main;
  CSrvSrv m_contents;
  std::thread m_thread;  // the initialisation thread while it may run
  std::atomic<bool> m_bStarted{false};
  bool m_bCacheDirectorySet = false;
  CSearchCache m_searchCache;
  CPageCache m_pageCache;
  CPageCache m_readerPageCache;
  CPublications m_publications;
};

// The one extension object of the library, behind the exported entry points.
CPorticoExtension& TheExtension();

}  // namespace portico
