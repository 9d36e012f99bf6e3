#include "portico/generation.h"

#include <exception>

#include "platform/message_box.h"

namespace portico {

namespace {

std::vector<CBaseListing::Entry> ListCatalogue(const CRegistry& registry, const char* name) {
  std::vector<CBaseListing::Entry> entries;
  for (const RegValue& v : registry.Values(std::string(CSrvSrv::kRegistryKey) + "\\" + name))
    if (v.type == RegValue::String) entries.push_back({v.text, IdentifyFile(v.text)});
  return entries;
}

}  // namespace

CBaseListing CBaseListing::Read(const CRegistry& registry) {
  CBaseListing listing;
  listing.main = ListCatalogue(registry, CSrvSrv::kDefaultName);
  listing.contents = ListCatalogue(registry, CGeneration::kContentsCatalogue);
  return listing;
}

CGeneration::~CGeneration() {
  m_contents.Close();
  m_main.Close();
}

void CGeneration::Open(std::uint64_t number, const CBaseListing& listing,
                       const std::optional<std::string>& cacheDirectory, CLookupCounters* lookups) {
  m_number = number;
  if (lookups) {
    m_pageCache.CountInto(&lookups->pages);
    m_readerPageCache.CountInto(&lookups->readerPages);
    m_searchCache.CountInto(&lookups->searches);
  }
  m_listing = listing;
  OpenCatalogue(m_main, CSrvSrv::kDefaultName, listing.main, cacheDirectory);
  m_contents.m_bNoTable = TRUE;
  OpenCatalogue(m_contents, kContentsCatalogue, listing.contents, cacheDirectory);
  m_openedAt = std::chrono::system_clock::now();
}

const std::vector<CBaseReport>& CGeneration::Bases() const {
  std::call_once(m_documentsCounted, [this] {
    for (CBaseReport& b : m_bases) {
      // Called by the generations thread, which nothing above catches for:
      // a base that cannot be counted reports 0, with a line in the log.
      try {
        b.documents = (b.catalogue == kContentsCatalogue ? m_contents : m_main).CountBaseDocuments(b.number);
      } catch (const std::exception& e) {
        MessageBox(b.path + ": its documents could not be counted: " + e.what(), "portico");
      }
    }
  });
  return m_bases;
}

void CGeneration::OpenCatalogue(CSrvSrv& catalogue, const char* name, const std::vector<CBaseListing::Entry>& listed,
                                const std::optional<std::string>& cacheDirectory) {
  std::vector<std::string> paths;
  for (const auto& entry : listed) paths.push_back(entry.path);
  if (cacheDirectory) catalogue.SetCacheDirectory(*cacheDirectory);
  // The result is not examined: pages work with whatever the catalogue holds.
  try {
    catalogue.Init(name, paths);
    // The operator learns what the catalogue left out (bases it could not
    // open, a cache it could not write): one log line each.
    for (const std::string& problem : catalogue.GetProblems()) MessageBox(problem, "SrvSrv");
  } catch (const std::exception& e) {
    MessageBox(std::string(name) + " catalogue: " + e.what(), "portico");
  } catch (...) {
    MessageBox(std::string(name) + " catalogue: initialisation failed", "portico");
  }
  std::vector<bool> opened(paths.size(), false);
  for (DWORD i = 0; i < catalogue.GetBaseCount(); ++i) {
    const std::string path = catalogue.GetBasePath(i);
    // Bases keep the order of the listing: the i-th open one is the first
    // listed path of that name not matched yet.
    for (std::size_t j = 0; j < paths.size(); ++j)
      if (!opened[j] && paths[j] == path) {
        opened[j] = true;
        break;
      }
    m_bases.push_back({name, i, path, catalogue.GetBaseGuid(i), 0});
  }
  for (std::size_t j = 0; j < paths.size(); ++j)
    if (!opened[j]) m_failed.push_back(paths[j]);
}

}  // namespace portico
