#include "portico/status_report.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/extension_status.h"
#include "portico/extension.h"
#include "portico/pages.h"

namespace portico {

namespace {

// A label value as the text format wants it: quotes, backslashes and line
// ends escaped; bytes outside printable ASCII (a windows-1250 path) as %XX,
// since the format is UTF-8.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += char(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out;
}

void Describe(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& out, const char* name, const std::string& labels, std::uint64_t value) {
  out += name;
  if (!labels.empty()) out += "{" + labels + "}";
  out += " " + std::to_string(value) + "\n";
}

std::uint64_t Seconds(std::chrono::system_clock::time_point t) {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count());
}

}  // namespace

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

DWORD ExtensionState(const CPorticoExtension& extension) {
  if (!extension.IsReady()) return EXTENSION_STATE_STARTING;
  std::shared_ptr<CGeneration> current = extension.Generations().Current();
  return current && current->Main().GetBaseCount() > 0 ? EXTENSION_STATE_SERVING : EXTENSION_STATE_NO_DATA;
}

const char* CommandWords() {
  static const std::string words = [] {
    std::size_t count = 0;
    const Command* commands = Commands(&count);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += (i ? " " : "") + std::string(commands[i].word);
    return text;
  }();
  return words.c_str();
}

std::string MetricsText(const CPorticoExtension& extension) {
  const CGenerations& generations = extension.Generations();
  std::string out;
  const CLookupCounters& lookups = generations.Lookups();
  Describe(out, "vamu_page_cache_hits_total", "counter", "Document pages answered from the page cache.");
  Sample(out, "vamu_page_cache_hits_total", "", lookups.pages.hits);
  Describe(out, "vamu_page_cache_misses_total", "counter", "Document pages looked for in the page cache and made anew.");
  Sample(out, "vamu_page_cache_misses_total", "", lookups.pages.misses);
  Describe(out, "vamu_reader_page_cache_hits_total", "counter",
           "Pages without frames of whole acts answered from their cache.");
  Sample(out, "vamu_reader_page_cache_hits_total", "", lookups.readerPages.hits);
  Describe(out, "vamu_reader_page_cache_misses_total", "counter",
           "Pages without frames of whole acts looked for in their cache and made anew.");
  Sample(out, "vamu_reader_page_cache_misses_total", "", lookups.readerPages.misses);
  Describe(out, "vamu_search_cache_hits_total", "counter", "Searches answered from the cached result lists.");
  Sample(out, "vamu_search_cache_hits_total", "", lookups.searches.hits);
  Describe(out, "vamu_search_cache_misses_total", "counter", "Searches run on the bases.");
  Sample(out, "vamu_search_cache_misses_total", "", lookups.searches.misses);

  CGenerations::Figures f = generations.Report();
  Describe(out, "vamu_generation", "gauge", "Number of the generation of bases in service (1: as started).");
  Sample(out, "vamu_generation", "", f.generation);
  Describe(out, "vamu_generations_open", "gauge", "Generations of bases open: in service, and old ones still read by requests.");
  Sample(out, "vamu_generations_open", "", f.open);
  Describe(out, "vamu_publications_total", "counter", "New bases put in service without a restart.");
  Sample(out, "vamu_publications_total", "", f.publications);
  Describe(out, "vamu_publications_refused_total", "counter", "Publications refused because a new base could not be opened.");
  Sample(out, "vamu_publications_refused_total", "", f.refused);
  Describe(out, "vamu_last_publication_timestamp_seconds", "gauge",
           "Time of the last publication, seconds since 1970; 0 when none since the start.");
  Sample(out, "vamu_last_publication_timestamp_seconds", "", f.lastPublication ? Seconds(*f.lastPublication) : 0);

  std::shared_ptr<CGeneration> current = extension.IsReady() ? generations.Current() : nullptr;
  std::vector<CBaseReport> bases;
  if (current) bases = current->Bases();
  // The labels that name a base in service, with its GUID.
  auto base = [](const CBaseReport& b) {
    return "catalogue=\"" + LabelValue(b.catalogue) + "\",base=\"" + std::to_string(b.number) + "\"";
  };
  auto guid = [](const CBaseReport& b) { return ",guid=\"" + GuidText(b.guid) + "\""; };
  Describe(out, "vamu_base_info", "gauge", "A base in service: catalogue, base number, file and GUID.");
  for (const CBaseReport& b : bases)
    Sample(out, "vamu_base_info", base(b) + ",path=\"" + LabelValue(b.path) + "\"" + guid(b), 1);
  Describe(out, "vamu_base_documents", "gauge", "Documents of a base in service.");
  for (const CBaseReport& b : bases) Sample(out, "vamu_base_documents", base(b) + guid(b), b.documents);
  Describe(out, "vamu_base_opened_timestamp_seconds", "gauge", "Time a base in service was opened, seconds since 1970.");
  for (const CBaseReport& b : bases)
    Sample(out, "vamu_base_opened_timestamp_seconds", base(b) + guid(b), Seconds(current->OpenedAt()));
  return out;
}

}  // namespace portico
