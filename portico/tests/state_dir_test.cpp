// Where the extension keeps the catalogues' cache files: the registry's
// Setup\CacheDir, a fixed state directory when it names none, never beside
// the programs; a directory that cannot be written costs the cache, with a
// log line, and never the table of acts.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string kAct =
    "<HTML><HEAD><TITLE>Dz.U.97.78.483 - Konstytucja</TITLE></HEAD><BODY>tekst</BODY></HTML>";

// Started the way the hosts start it: no cache directory given by the caller.
std::unique_ptr<CPorticoExtension> StartAsHost(const TestSite& site) {
  ::setenv("VAMU_REGISTRY", site.registryPath.c_str(), 1);
  auto extension = std::make_unique<CPorticoExtension>();
  HSE_VERSION_INFO info{};
  extension->GetExtensionVersion(&info);
  extension->WaitReady();
  return extension;
}

struct StateDirTest : ::testing::Test {
  TestSite site;
  void SetUp() override { site.AddBase({{"D97483D97483.HTM", kAct, ""}}); }
};

TEST_F(StateDirTest, CacheGoesToTheRegistrysStateDirectory) {
  fs::create_directories(site.root + "/state");
  site.SetSetting("Setup", "CacheDir", site.root + "/state");
  {
    auto ext = StartAsHost(site);
    EXPECT_EQ(fs::path(ext->Main().GetCachePath()).parent_path(), site.root + "/state");
    EXPECT_TRUE(fs::exists(ext->Main().GetCachePath()));
    EXPECT_FALSE(ext->Main().TableFromCache());
  }
  auto again = StartAsHost(site);
  EXPECT_TRUE(again->Main().TableFromCache());
  EXPECT_EQ(again->Main().GetActEntries().size(), 1u);
}

TEST_F(StateDirTest, UnwritableStateDirectoryCostsOnlyTheCache) {
  site.SetSetting("Setup", "CacheDir", site.root + "/missing");
  MessageCapture log;
  auto ext = StartAsHost(site);
  EXPECT_EQ(ext->Main().GetActEntries().size(), 1u);
  EXPECT_FALSE(fs::exists(site.root + "/missing"));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_NE(log.lines[0].find("No cache of the table of acts: cannot write " + site.root + "/missing/biblion-"),
            std::string::npos)
      << log.lines[0];
}

TEST_F(StateDirTest, WithoutTheValueTheFixedStateDirectoryIsUsed) {
  MessageCapture log;
  auto ext = StartAsHost(site);
  const std::string cache = ext->Main().GetCachePath();
  EXPECT_EQ(fs::path(cache).parent_path(), CPorticoExtension::kDefaultCacheDirectory);
  EXPECT_EQ(ext->Main().GetActEntries().size(), 1u);
  // Whether this machine has the directory decides between a cache file and
  // a log line; the test leaves nothing of its own there.
  if (fs::exists(cache)) {
    EXPECT_TRUE(log.lines.empty());
    fs::remove(cache);
  } else {
    EXPECT_EQ(log.lines.size(), 1u);
  }
}

}  // namespace
}  // namespace portico
