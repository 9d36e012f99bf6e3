// The generations of the extension's bases and the publication of new ones.
// Start opens the first generation on a thread of its own; the same thread
// then looks at the registry file and the listed base files twice a second.
// When the list of bases or a listed file has changed (an operator renamed a
// new base over a live one, or changed the registry's list), it opens a new
// generation beside the one in service and, when every listed base opened
// that opened before, puts it in service: requests that start from then on
// get the new generation, requests already running keep theirs. A
// generation that no request holds any more is closed (its bases, its
// caches) by the same thread, and the freed memory goes back to the system.
// A publication refused (a new base that cannot be opened) leaves the
// generation in service and is logged; it is tried again only after the
// next change.
//
// Threads: Current and the report members from any thread; Start and Stop
// from one thread (the extension's start and end).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_identity.h"
#include "platform/sync.h"
#include "portico/generation.h"

namespace portico {

class CGenerations {
 public:
  // How often the registry file and the base files are looked at.
  static constexpr std::chrono::milliseconds kPollInterval{500};

  CGenerations() = default;
  CGenerations(const CGenerations&) = delete;
  CGenerations& operator=(const CGenerations&) = delete;
  // Stops the watch (waiting for an opening in progress).
  ~CGenerations();

  // Where the catalogues keep their table caches, instead of the registry's
  // Setup\CacheDir (read once, at Start); empty: no cache. Before Start.
  void SetCacheDirectory(const std::string& directory) { m_cacheDirectory = directory; }
  // The state directory of an installation whose registry names none.
  static constexpr const char* kDefaultCacheDirectory = "/var/cache/vamu";
  // Opens the first generation on a new thread, calls `ready` once it is in
  // service, then watches for publications until Stop.
  void Start(std::function<void()> ready);
  // Ends the watch; the generations stay until destruction.
  void Stop();

  // The generation in service (null before the first one is open).
  std::shared_ptr<CGeneration> Current() const;

  // For reports.
  struct Figures {
    std::uint64_t generation = 0;       // number of the generation in service
    std::uint64_t publications = 0;     // generations put in service after the first
    std::uint64_t refused = 0;          // publications refused
    std::size_t open = 0;               // generations still open (in service and retiring)
    std::optional<std::chrono::system_clock::time_point> lastPublication;
  };
  Figures Report() const;
  // Lookups of the page caches and the search caches of every generation so far.
  const CLookupCounters& Lookups() const { return m_lookups; }

 private:
  void Run(const std::function<void()>& ready);
  // Looks once: publishes, or refuses, a changed listing; closes generations
  // no request holds.
  void Look();
  std::shared_ptr<CGeneration> Open(const CBaseListing& listing);
  // Why `next` may not replace `current` (empty: it may).
  static std::string Objection(const CGeneration& next, const CGeneration& current);
  void CloseUnused();
  // The registry's listing, parsed again only when the file changed.
  CBaseListing Listing();

  std::optional<std::string> m_cacheDirectory;
  CLookupCounters m_lookups;
  std::thread m_thread;
  CEvent m_stop;

  mutable std::mutex m_mutex;                       // guards m_current and the figures
  std::shared_ptr<CGeneration> m_current;
  std::uint64_t m_publications = 0;
  std::uint64_t m_refusedCount = 0;
  std::optional<std::chrono::system_clock::time_point> m_lastPublication;
  std::size_t m_open = 0;

  // The watch thread's own.
  std::uint64_t m_nextNumber = 1;
  std::vector<std::shared_ptr<CGeneration>> m_retiring;
  std::optional<CBaseListing> m_refused;            // the listing last refused
  std::optional<FileIdentity> m_registryIdentity;   // of the registry file last parsed
  std::string m_registryPath;
  std::shared_ptr<const CRegistry> m_registry;
};

}  // namespace portico
