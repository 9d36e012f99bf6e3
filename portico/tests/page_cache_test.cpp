// The rendered-page cache: what it keeps and drops, and that a Topic page
// answered from it is the page the extension makes afresh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "portico/page_cache.h"
#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;

CPageCache::Page PageOf(std::size_t bytes, char fill = 'x') {
  CPageCache::Page page;
  page.head.assign(bytes, fill);
  return page;
}

TEST(PageCache, LeastRecentlyUsedPagesGoFirstWithinTheBudget) {
  CPageCache cache(1u << 20);  // 1 MiB: pages of 100 KB, ten at most
  for (int i = 0; i < 10; ++i) cache.Store(i, PageOf(100000, static_cast<char>('a' + i)));
  EXPECT_EQ(cache.Bytes(), 1000000u);
  ASSERT_NE(cache.Find(0), nullptr);  // 0 is now the most recent; 1 the least
  cache.Store(10, PageOf(100000));
  EXPECT_TRUE(cache.Contains(0));
  EXPECT_FALSE(cache.Contains(1));
  EXPECT_TRUE(cache.Contains(10));
  EXPECT_EQ(cache.Bytes(), 1000000u);
  EXPECT_EQ(cache.Find(0)->head, std::string(100000, 'a'));
}

TEST(PageCache, SmallLargeAndRepeatedPagesAreNotKept) {
  CPageCache cache(1u << 20);
  cache.Store(1, PageOf(CPageCache::kMinPage - 1));     // cheap to make again
  cache.Store(2, PageOf((1u << 20) / 8 + 1));            // would crowd out the rest
  EXPECT_FALSE(cache.Contains(1));
  EXPECT_FALSE(cache.Contains(2));
  cache.Store(3, PageOf(CPageCache::kMinPage, 'a'));
  cache.Store(3, PageOf(CPageCache::kMinPage + 10, 'b'));  // the first stays
  EXPECT_EQ(cache.Find(3)->head, std::string(CPageCache::kMinPage, 'a'));
  EXPECT_EQ(cache.Bytes(), CPageCache::kMinPage);
  CPageCache off(0);
  off.Store(4, PageOf(CPageCache::kMinPage));
  EXPECT_FALSE(off.Contains(4));
}

TEST(PageCache, AHandedOutPageOutlivesItsEviction) {
  CPageCache cache(1u << 20);
  cache.Store(0, PageOf(120000, 'a'));
  CPageCache::Entry held = cache.Find(0);
  for (int i = 1; i <= 9; ++i) cache.Store(i, PageOf(120000));
  EXPECT_FALSE(cache.Contains(0));
  EXPECT_EQ(held->head, std::string(120000, 'a'));
}

// A large act with rulings on some of its articles, so the cached page
// carries ruling icons, the frameset script and the footer's place.
std::string LargeAct() {
  std::string act = "<HTML><HEAD><TITLE>Ustawa</TITLE></HEAD>\r\n<!--LINE Search@ Home@ Notes=abc123d01456@-->\r\n<BODY>\r\n";
  for (int n = 1; n <= 1500; ++n)
    act += "<P>Art. " + std::to_string(n) + ". Przepis numer " + std::to_string(n) + " o sprawach różnych.</P>\r\n";
  return act + "</BODY></HTML>";
}

std::string Ruling(const std::string& references) {
  return "<HTML><HEAD><META KEYS=\"" + references + "\"><TITLE>Wyrok</TITLE></HEAD><BODY>wyrok</BODY></HTML>";
}

struct CachedTopicTest : ::testing::Test {
  TestSite site;
  void SetUp() override {
    site.AddBase({{"ACTS\\ABC123D01456.HTM", LargeAct(), ""},
                  {"ORZ1.HTM", Ruling("ABC123.ART.5=X\r\nABC123.ART.1200=Y\r\n"), "ABC123OO"},
                  {"SMALL.HTM", "<HTML><BODY>mały</BODY></HTML>", ""}});
    site.SetSetting("Publisher", "Notice", "Wydawca");
    site.WriteStatic("Search.htm", "<HTML><BODY>szukaj</BODY></HTML>");
  }
  // An extension whose page cache has `megabytes` (unset: the default).
  std::unique_ptr<CPorticoExtension> Start(const char* megabytes) {
    if (megabytes)
      setenv("VAMU_PAGE_CACHE_MB", megabytes, 1);
    else
      unsetenv("VAMU_PAGE_CACHE_MB");
    auto ext = StartExtension(site);
    unsetenv("VAMU_PAGE_CACHE_MB");
    return ext;
  }
};

TEST_F(CachedTopicTest, KeptPageIsThePageMadeAfresh) {
  auto uncached = Start("0");
  const std::string fresh = Query(*uncached, "Topic&0").body;
  ASSERT_NE(fresh.find("PartOr&1&X"), std::string::npos);
  ASSERT_NE(fresh.find("PartOr&1&Y"), std::string::npos);
  EXPECT_FALSE(uncached->PageCache().Contains(0));

  auto ext = Start(nullptr);
  EXPECT_EQ(Query(*ext, "Topic&0").body, fresh);
  ASSERT_TRUE(ext->PageCache().Contains(0));
  TestRequest again("Topic&0");
  Response r = Query(*ext, again);
  EXPECT_EQ(r.body, fresh);
  EXPECT_EQ(r.header, kPageHeader);
  EXPECT_EQ(r.status, 200u);
  EXPECT_EQ(r.logData, "test-agent");
  for (std::size_t size : again.writeSizes) EXPECT_LE(size, 100000u);
}

TEST_F(CachedTopicTest, FooterFollowsTheSettingsOfEachRequest) {
  auto ext = Start(nullptr);
  const std::string first = Query(*ext, "Topic&0").body;
  ASSERT_TRUE(ext->PageCache().Contains(0));
  site.SetSetting("Publisher", "Notice", "Nowy wydawca");
  const std::string second = Query(*ext, "Topic&0").body;
  EXPECT_EQ(second.find(">Wydawca</A></FONT>"), std::string::npos);
  ASSERT_NE(second.find(">Nowy wydawca</A></FONT></BODY></HTML>"), std::string::npos);
  EXPECT_EQ(second.size(), first.size() + 5);
}

TEST_F(CachedTopicTest, PageCutShortByTheClientIsNotKept) {
  auto ext = Start(nullptr);
  TestRequest cut("Topic&0");
  cut.failAfterWrites = 2;
  Query(*ext, cut);
  EXPECT_FALSE(ext->PageCache().Contains(0));
  auto uncached = Start("0");
  EXPECT_EQ(Query(*ext, "Topic&0").body, Query(*uncached, "Topic&0").body);
}

TEST_F(CachedTopicTest, SmallDocumentsAndStaticPagesAreMadeEveryTime) {
  auto ext = Start(nullptr);
  Query(*ext, "Topic&2");
  EXPECT_FALSE(ext->PageCache().Contains(2));
  EXPECT_NE(Query(*ext, "Topic&-1").body.find("szukaj"), std::string::npos);
  site.WriteStatic("Search.htm", "<HTML><BODY>zmienione</BODY></HTML>");
  EXPECT_NE(Query(*ext, "Topic&-1").body.find("zmienione"), std::string::npos);
  EXPECT_EQ(ext->PageCache().Bytes(), 0u);
}

}  // namespace
}  // namespace portico
