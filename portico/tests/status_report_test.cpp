// The extension's report to its host: its state, its command words, and its
// figures - cache lookups, the bases in service, publications.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/extension_status.h"
#include "portico/status_report.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;
using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

TEST(StatusReport, GuidAsTheRegistryWritesIt) {
  GUID g{0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};
  EXPECT_EQ(GuidText(g), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
  EXPECT_EQ(GuidText(GUID{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(StatusReport, CommandWordsAreTheDispatchTable) {
  std::string words = std::string(" ") + CommandWords() + " ";
  for (const char* w : {" Topic ", " Search ", " Main ", " TOC ", " Foot ", " TreeToc ", " PartOr "})
    EXPECT_TRUE(Has(words, w)) << w << " in" << words;
}

TEST(StatusReport, StateFollowsTheBases) {
  CPorticoExtension unstarted;  // its bases not opened yet
  EXPECT_EQ(ExtensionState(unstarted), EXTENSION_STATE_STARTING);
  TestSite empty;
  auto none = StartExtension(empty);
  EXPECT_EQ(ExtensionState(*none), EXTENSION_STATE_NO_DATA);
  TestSite site;
  site.AddBase({{"A.HTM", "<HTML><BODY>a</BODY></HTML>", ""}});
  auto ext = StartExtension(site);
  EXPECT_EQ(ExtensionState(*ext), EXTENSION_STATE_SERVING);
}

TEST(StatusReport, CacheLookupsBasesAndPublications) {
  TestSite site;
  const GUID guid{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  // A name with a windows-1250 letter: percent-encoded in the label.
  std::string path = site.root + "/akty\xB3.vq";
  TestSite::WriteBase(path,
                      {{"D97001D97001.HTM",
                        "<HTML><HEAD><TITLE>Dz.U.97.1.1 - Akt</TITLE></HEAD>\r\n<BODY><P> kot " + Noise(70000) +
                            " </P></BODY></HTML>",
                        ""},
                       {"D97002D97002.HTM", "<HTML><HEAD><TITLE>Dz.U.97.1.2 - Akt</TITLE></HEAD></HTML>", ""}},
                      &guid);
  site.Registry().SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion", "1", path);
  site.WriteRegistry();
  const auto before = std::chrono::system_clock::now();
  auto ext = StartExtension(site);
  const auto after = std::chrono::system_clock::now();

  for (int i = 0; i < 2; ++i) {
    Query(*ext, "Topic&0");               // large: the page cache, a miss then a hit
    Query(*ext, "Search&Pattern=kot");    // a miss then a hit
    TestRequest whole("");                // the act without frames: a miss then a hit
    whole.variables["URL"] = "/eli/DU/1997/1";
    EXPECT_EQ(Query(*ext, whole).statusText, "200 OK");
  }
  std::string m = MetricsText(*ext);
  for (const char* line :
       {"vamu_page_cache_hits_total 1\n", "vamu_page_cache_misses_total 1\n", "vamu_search_cache_hits_total 1\n",
        "vamu_reader_page_cache_hits_total 1\n", "vamu_reader_page_cache_misses_total 1\n",
        "vamu_search_cache_misses_total 1\n", "vamu_generation 1\n", "vamu_generations_open 1\n",
        "vamu_publications_total 0\n", "vamu_publications_refused_total 0\n",
        "vamu_last_publication_timestamp_seconds 0\n", "# TYPE vamu_base_info gauge\n"})
    EXPECT_TRUE(Has(m, line)) << line << "in\n" << m;
  const std::string labels = "catalogue=\"biblion\",base=\"0\"";
  const std::string id = "guid=\"{01020304-0506-0708-090A-0B0C0D0E0F10}\"";
  EXPECT_TRUE(Has(m, "vamu_base_info{" + labels + ",path=\"" + site.root + "/akty%B3.vq\"," + id + "} 1\n")) << m;
  EXPECT_TRUE(Has(m, "vamu_base_documents{" + labels + "," + id + "} 2\n")) << m;
  std::size_t at = m.find("vamu_base_opened_timestamp_seconds{" + labels + "," + id + "} ");
  ASSERT_NE(at, std::string::npos) << m;
  long long opened = std::stoll(m.substr(m.find("} ", at) + 2));
  auto seconds = [](auto t) { return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count(); };
  EXPECT_GE(opened, seconds(before));
  EXPECT_LE(opened, seconds(after));

  // A publication: a new generation, counted; the counts of the caches go on.
  TestSite::WriteBase(path + ".new", {{"D97001D97001.HTM", "<HTML><BODY>nowy</BODY></HTML>", ""}});
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  for (int i = 0; i < 500 && ext->Generations().Report().generation < 2; ++i) std::this_thread::sleep_for(10ms);
  Query(*ext, "Search&Pattern=kot");  // the new generation's cache: a miss
  m = MetricsText(*ext);
  for (const char* line : {"vamu_generation 2\n", "vamu_publications_total 1\n", "vamu_search_cache_misses_total 2\n",
                           "vamu_search_cache_hits_total 1\n"})
    EXPECT_TRUE(Has(m, line)) << line << "in\n" << m;
  EXPECT_FALSE(Has(m, "vamu_last_publication_timestamp_seconds 0\n"));
  EXPECT_TRUE(Has(m, "vamu_base_documents{" + labels + ",guid=")) << m;
  EXPECT_FALSE(Has(m, id)) << "the old base's GUID is no longer in service";
}

}  // namespace
}  // namespace portico
