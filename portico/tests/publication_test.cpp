// Publishing new bases without a restart: a base renamed over a live one,
// or a changed list of bases in the registry, is in service within two
// seconds; a request that is running keeps the bases it started with, and
// they close when it ends; no cache answers for the new bases with the old
// ones' content; a new base that cannot be opened leaves the old one in
// service, with a message.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "portico/tests/harness.h"

namespace portico {
namespace {

using namespace test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A document that says which edition of the base it comes from.
Item Edition(const std::string& name, const std::string& edition, std::size_t extra = 0) {
  return {name, "<HTML><HEAD><TITLE>Akt</TITLE></HEAD><BODY>Wydanie " + edition + " " + Noise(extra) + "</BODY></HTML>",
          ""};
}

struct Publication : ::testing::Test {
  TestSite site;
  std::string live;
  std::unique_ptr<CPorticoExtension> ext;

  void SetUp() override { live = site.AddBase({Edition("A.HTM", "ALFA"), Edition("B.HTM", "ALFA")}); }
  void Start() { ext = StartExtension(site); }

  // Writes a base beside the live one and renames it over it, as an operator publishes.
  void Publish(const std::vector<Item>& items, const GUID* guid = nullptr) {
    std::string next = live + ".new";
    TestSite::WriteBase(next, items, guid);
    ASSERT_EQ(std::rename(next.c_str(), live.c_str()), 0);
  }
  // Waits until the generation `number` is in service; the time it took.
  std::optional<Clock::duration> AwaitGeneration(std::uint64_t number, Clock::duration limit = 5s) {
    auto start = Clock::now();
    while (Clock::now() - start < limit) {
      if (ext->Generations().Report().generation >= number) return Clock::now() - start;
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }
  bool AwaitOpenGenerations(std::size_t count, Clock::duration limit = 5s) {
    auto start = Clock::now();
    while (Clock::now() - start < limit) {
      if (ext->Generations().Report().open == count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::string Page(const std::string& query) { return Query(*ext, query).body; }
};

TEST_F(Publication, RenamedBaseIsInServiceWithinTwoSeconds) {
  Start();
  EXPECT_NE(Page("Topic&0").find("Wydanie ALFA"), std::string::npos);
  EXPECT_EQ(ext->Generations().Report().publications, 0u);
  EXPECT_FALSE(ext->Generations().Report().lastPublication);

  Publish({Edition("A.HTM", "BETA"), Edition("B.HTM", "BETA")});
  std::optional<Clock::duration> took = AwaitGeneration(2);
  ASSERT_TRUE(took) << "no publication within 5 s";
  EXPECT_LT(*took, 2s);
  std::string page = Page("Topic&1");
  EXPECT_NE(page.find("Wydanie BETA"), std::string::npos);
  EXPECT_EQ(page.find("ALFA"), std::string::npos);
  EXPECT_EQ(ext->Generations().Report().publications, 1u);
  EXPECT_TRUE(ext->Generations().Report().lastPublication);
  EXPECT_TRUE(AwaitOpenGenerations(1)) << "the old bases close when nothing holds them";
}

TEST_F(Publication, RunningRequestFinishesOnItsBasesWhichCloseWhenItEnds) {
  Start();
  // A page held at its first write: it has read its document by then.
  std::mutex mutex;
  std::condition_variable changed;
  bool writing = false, release = false;
  TestRequest held("Topic&0");
  held.beforeWrite = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    writing = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  auto running = std::async(std::launch::async, [&] { return Query(*ext, held); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return writing; }));
  }

  Publish({Edition("A.HTM", "BETA"), Edition("B.HTM", "BETA")});
  ASSERT_TRUE(AwaitGeneration(2));
  EXPECT_NE(Page("Topic&0").find("Wydanie BETA"), std::string::npos) << "new requests: the new base";
  std::this_thread::sleep_for(300ms);  // more than the watch's look at retiring generations
  EXPECT_EQ(ext->Generations().Report().open, 2u) << "the old base stays open under the running page";

  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  Response r = running.get();
  EXPECT_NE(r.body.find("Wydanie ALFA"), std::string::npos) << "the running page ends on its own base";
  EXPECT_EQ(r.body.find("BETA"), std::string::npos);
  EXPECT_TRUE(AwaitOpenGenerations(1, 2s)) << "closed once the page is done";
}

// An act of Dz.U. 1997 (the search lists acts), with the edition's words.
Item Act(int position, const std::string& words, std::size_t extra = 0) {
  std::string p = std::to_string(position);
  return {"D9700" + p + "D9700" + p + ".HTM",
          // Markup does not end a word: blanks keep the words apart.
          "<HTML><HEAD><TITLE>Dz.U.97.1." + p + " - Akt</TITLE></HEAD>\r\n<BODY><P> " + words + " " + Noise(extra) +
              " </P></BODY></HTML>",
          ""};
}

TEST_F(Publication, CachesNeverAnswerForTheNewBasesWithTheOldContent) {
  Start();
  // A large page (page cache) and a search result list (search cache).
  Publish({Act(1, "Wydanie ALFA", 70000), Act(2, "kot pies")});
  ASSERT_TRUE(AwaitGeneration(2));
  EXPECT_NE(Page("Topic&0").find("Wydanie ALFA"), std::string::npos);
  EXPECT_TRUE(ext->PageCache().Contains(0));
  std::string before = Page("Search&Pattern=kot");
  EXPECT_NE(before.find("portico.dll?Topic&D97002D97002 "), std::string::npos) << before;
  EXPECT_EQ(before.find("portico.dll?Topic&D97001D97001 "), std::string::npos);

  // The same slots, other contents: the word now in slot 0.
  Publish({Act(1, "Wydanie BETA kot", 70000), Act(2, "pies")});
  ASSERT_TRUE(AwaitGeneration(3));
  std::string topic = Page("Topic&0");
  EXPECT_NE(topic.find("Wydanie BETA"), std::string::npos);
  EXPECT_EQ(topic.find("ALFA"), std::string::npos) << "not the cached page of the old base";
  std::string after = Page("Search&Pattern=kot");
  EXPECT_NE(after.find("portico.dll?Topic&D97001D97001 "), std::string::npos) << after;
  EXPECT_EQ(after.find("portico.dll?Topic&D97002D97002 "), std::string::npos) << "not the cached list of the old base";
}

TEST_F(Publication, PagesWithoutFramesAndTheFeedFollowThePublication) {
  auto reader = [this](const std::string& url) {
    TestRequest request("");
    request.variables = {{"URL", url}, {"HTTP_HOST", "prawo.example"}};
    return Query(*ext, request).body;
  };
  // Large enough for the cache of pages without frames.
  TestSite::WriteBase(live, {Act(5, "Art. 1. Wydanie ALFA", 70000)});
  Start();
  EXPECT_NE(reader("/eli/DU/1997/5").find("Wydanie ALFA"), std::string::npos);
  EXPECT_TRUE(ext->ReaderPageCache().Contains(0));
  EXPECT_EQ(reader("/feed/nowe.atom").find("/eli/DU/1998/7/"), std::string::npos);

  // The same slot, another edition; a new act in the next slot.
  Publish({Act(5, "Art. 1. Wydanie BETA", 70000),
           {"D98007D98007.HTM", "<HTML><HEAD><TITLE>Dz.U.98.3.7 - Nowa</TITLE></HEAD><BODY><P>Art. 1. X.</BODY></HTML>", ""}});
  ASSERT_TRUE(AwaitGeneration(2));
  std::string page = reader("/eli/DU/1997/5");
  EXPECT_NE(page.find("Wydanie BETA"), std::string::npos);
  EXPECT_EQ(page.find("ALFA"), std::string::npos) << "not the cached page of the old base";
  // The running extension sees the publication: the new act leads the feed.
  std::string feed = reader("/feed/nowe.atom");
  const std::size_t first = feed.find("<entry>");
  ASSERT_NE(first, std::string::npos) << feed;
  EXPECT_EQ(feed.find("<id>http://prawo.example/eli/DU/1998/7/pierwotny</id>"), first + 8) << feed;
}

TEST_F(Publication, TableOfActsOfANewBaseWithTheOldGuidIsBuiltAnew) {
  // A base made from a copy of the live one keeps its GUID; copied with its
  // times (rsync -t) it may even look older than the table cache.
  GUID guid = NewGuid();
  TestSite::WriteBase(live, {{"D97483D97483.HTM", "<HTML><HEAD><TITLE>Dz.U.97.78.483 - Konstytucja</TITLE></HEAD></HTML>", ""}},
                      &guid);
  Start();
  ASSERT_EQ(ext->Main().GetActEntries().size(), 1u);
  std::string next = live + ".new";
  TestSite::WriteBase(next,
                      {{"D97483D97483.HTM", "<HTML><HEAD><TITLE>Dz.U.97.78.483 - Konstytucja</TITLE></HEAD></HTML>", ""},
                       {"D98100D98100.HTM", "<HTML><HEAD><TITLE>Dz.U.98.10.100 - Ustawa</TITLE></HEAD></HTML>", ""}},
                      &guid);
  utimbuf old{1000000000, 1000000000};  // 2001
  ASSERT_EQ(::utime(next.c_str(), &old), 0);
  ASSERT_EQ(std::rename(next.c_str(), live.c_str()), 0);
  ASSERT_TRUE(AwaitGeneration(2));
  EXPECT_EQ(ext->Main().GetActEntries().size(), 2u) << "the table of the old base was taken from its cache";
}

TEST_F(Publication, UnopenableNewBaseLeavesTheOldOneInServiceAndSaysWhy) {
  MessageCapture messages;
  Start();
  std::string next = live + ".new";
  std::FILE* f = std::fopen(next.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fputs("not a base", f);
  std::fclose(f);
  ASSERT_EQ(std::rename(next.c_str(), live.c_str()), 0);
  auto start = Clock::now();
  while (ext->Generations().Report().refused == 0 && Clock::now() - start < 5s) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(ext->Generations().Report().refused, 1u);
  EXPECT_EQ(ext->Generations().Report().generation, 1u);
  EXPECT_NE(Page("Topic&0").find("Wydanie ALFA"), std::string::npos) << "the old base, open still, serves";
  bool said = false;
  for (const std::string& line : messages.lines)
    said = said || (line.find("publication refused") != std::string::npos && line.find(live) != std::string::npos);
  EXPECT_TRUE(said) << "a message names the base";
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(ext->Generations().Report().refused, 1u) << "tried once, not at every look";

  Publish({Edition("A.HTM", "GAMMA")});
  ASSERT_TRUE(AwaitGeneration(2));
  EXPECT_NE(Page("Topic&0").find("Wydanie GAMMA"), std::string::npos);
}

TEST_F(Publication, ChangedListOfBasesInTheRegistryIsPublished) {
  std::string missing = site.root + "/gone.vq";
  site.Registry().SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion", "9", missing);
  site.WriteRegistry();
  Start();
  // A base missing since the start does not hold back the publication of another.
  std::string second = site.root + "/second.vq";
  TestSite::WriteBase(second, {Edition("C.HTM", "DRUGA")});
  site.Registry().SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion", "2", second);
  site.WriteRegistry();
  ASSERT_TRUE(AwaitGeneration(2));
  EXPECT_NE(Page("Topic&65536").find("Wydanie DRUGA"), std::string::npos) << "base 1, slot 0";
  EXPECT_NE(Page("Topic&0").find("Wydanie ALFA"), std::string::npos);
  ASSERT_EQ(ext->Generations().Current()->Bases().size(), 2u);
  EXPECT_EQ(ext->Generations().Current()->Bases()[1].path, second);
  EXPECT_EQ(ext->Generations().Current()->Bases()[1].documents, 1u);
}

TEST_F(Publication, PagesWaitForTheFirstGenerationAndTakeItThen) {
  ext = StartExtension(site, false);
  std::string page = Page("Topic&0");  // waits for the bases, as every page does
  EXPECT_NE(page.find("Wydanie ALFA"), std::string::npos);
  EXPECT_EQ(ext->Generations().Report().generation, 1u);
}

}  // namespace
}  // namespace portico
