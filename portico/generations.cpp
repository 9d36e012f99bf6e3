#include "portico/generations.h"

#include <malloc.h>

#include <algorithm>
#include <exception>

#include "platform/message_box.h"
#include "portico/settings.h"

namespace portico {

namespace {

constexpr const char* kCaption = "portico";

std::string Describe(const CGeneration& g) {
  std::string text;
  for (const CBaseReport& base : g.Bases()) text += (text.empty() ? "" : ", ") + base.path;
  return text.empty() ? "no base" : text;
}

}  // namespace

CGenerations::~CGenerations() { Stop(); }

void CGenerations::Start(std::function<void()> ready) {
  m_thread = std::thread([this, ready = std::move(ready)] { Run(ready); });
}

void CGenerations::Stop() {
  m_stop.Set();
  if (m_thread.joinable()) m_thread.join();
}

std::shared_ptr<CGeneration> CGenerations::Current() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_current;
}

CGenerations::Figures CGenerations::Report() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  Figures f;
  f.generation = m_current ? m_current->Number() : 0;
  f.publications = m_publications;
  f.refused = m_refusedCount;
  f.open = m_open;
  f.lastPublication = m_lastPublication;
  return f;
}

CBaseListing CGenerations::Listing() {
  const std::string path = CRegistry::DefaultPath();
  std::optional<FileIdentity> identity = IdentifyFile(path);
  if (!m_registry || path != m_registryPath || identity != m_registryIdentity) {
    m_registry = std::make_shared<const CRegistry>(CRegistry::Load(path));
    m_registryPath = path;
    m_registryIdentity = identity;
  }
  return CBaseListing::Read(*m_registry);
}

std::shared_ptr<CGeneration> CGenerations::Open(const CBaseListing& listing) {
  auto generation = std::make_shared<CGeneration>();
  generation->Open(m_nextNumber++, listing, m_cacheDirectory, &m_lookups);
  return generation;
}

void CGenerations::Run(const std::function<void()>& ready) {
  if (!m_cacheDirectory) {
    // Never beside the programs: their directory need not be writable, and
    // servers of other bases may share it.
    std::string dir = ReadSetting("Setup", "CacheDir");
    m_cacheDirectory = dir.empty() ? std::string(kDefaultCacheDirectory) : dir;
  }
  try {
    std::shared_ptr<CGeneration> first = Open(Listing());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = std::move(first);
    m_open = 1;
  } catch (const std::exception& e) {
    MessageBox(std::string("opening the bases: ") + e.what(), kCaption);
  }
  if (!Current()) {  // out of memory at start: serve without bases rather than not at all
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = std::make_shared<CGeneration>();
    m_open = 1;
  }
  ready();
  // The documents of the bases are counted here, while the first requests
  // are served, rather than by the first status report.
  Current()->Bases();
  // Generations waiting for their last request are looked at more often.
  while (!m_stop.WaitFor(m_retiring.empty() ? kPollInterval : kPollInterval / 5)) {
    try {
      Look();
    } catch (const std::exception& e) {
      MessageBox(std::string("publication: ") + e.what(), kCaption);
    }
  }
}

std::string CGenerations::Objection(const CGeneration& next, const CGeneration& current) {
  // A listed base that does not open is refused, unless it did not open in
  // the generation in service either (a base missing since the start does
  // not hold back the publication of others).
  for (const std::string& path : next.Failed())
    if (std::find(current.Failed().begin(), current.Failed().end(), path) == current.Failed().end())
      return "the base " + path + " cannot be opened";
  return {};
}

void CGenerations::Look() {
  CloseUnused();
  CBaseListing listing = Listing();
  std::shared_ptr<CGeneration> current = Current();
  if (listing == current->Listing() || listing == m_refused) return;
  std::shared_ptr<CGeneration> next = Open(listing);
  std::string objection = Objection(*next, *current);
  if (!objection.empty()) {
    MessageBox("publication refused: " + objection + "; the bases in service stay (" + Describe(*current) + ")",
               kCaption);
    m_refused = listing;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_refusedCount;
    return;
  }
  m_refused.reset();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = next;
    ++m_publications;
    ++m_open;
    m_lastPublication = std::chrono::system_clock::now();
  }
  // Requests still running hold the old generation; it closes when they end.
  m_retiring.push_back(std::move(current));
  MessageBox("published: generation " + std::to_string(next->Number()) + " serves " + Describe(*next), kCaption);
}

void CGenerations::CloseUnused() {
  // Once out of service a generation is never handed out again, so a count
  // of one (this list's) stays one: no request holds it or can take it.
  std::size_t before = m_retiring.size();
  std::erase_if(m_retiring, [](const std::shared_ptr<CGeneration>& g) { return g.use_count() == 1; });
  if (m_retiring.size() == before) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open -= before - m_retiring.size();
  }
  // The closed bases' memory (tables, word lists, cached pages) goes back now.
  malloc_trim(0);
}

}  // namespace portico
