// The visit counter: visits are counted in memory and added to the
// registry's value at most once a second and at stop, so several processes
// sharing one registry file add up, and a killed process loses at most its
// last second.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/file_identity.h"
#include "platform/registry.h"
#include "portico/settings.h"
#include "portico/tests/harness.h"
#include "portico/visit_counter.h"

namespace portico {
namespace {

using namespace test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct VisitCounterTest : ::testing::Test {
  TestSite site;  // its registry holds the extension's key (Setup\Dir)

  std::optional<DWORD> Counter() const {
    std::optional<RegValue> v = CRegistry::Load(site.registryPath).Value(SettingsKey(""), "Counter");
    return v ? std::optional<DWORD>(v->dword) : std::nullopt;
  }
  void SetCounter(DWORD value) {
    ASSERT_TRUE(CRegistry::Update(site.registryPath,
                                  [&](CRegistry& r) { r.SetDword(SettingsKey(""), "Counter", value); }));
  }
  bool AwaitCounter(DWORD value, Clock::duration limit) {
    for (auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(10ms))
      if (Counter() == value) return true;
    return Counter() == value;
  }
};

TEST_F(VisitCounterTest, VisitsAreWrittenOnceASecondNotOncePerVisit) {
  const std::optional<FileIdentity> before = IdentifyFile(site.registryPath);
  CVisitCounter counter;
  for (int i = 0; i < 200; ++i) counter.Count();
  // The first write is due a second after the first visit.
  EXPECT_EQ(IdentifyFile(site.registryPath), before) << "no write of the registry file per visit";
  EXPECT_EQ(counter.Pending(), 200u);
  auto start = Clock::now();
  ASSERT_TRUE(AwaitCounter(200, 3s)) << "written by the counter's own thread";
  EXPECT_LT(Clock::now() - start, 1500ms);
  EXPECT_EQ(counter.Pending(), 0u);
}

TEST_F(VisitCounterTest, EachWriteAddsToTheValueOnDisk) {
  CVisitCounter counter;
  counter.Count();
  counter.Count();
  counter.Count();
  SetCounter(100);  // another process wrote meanwhile
  counter.Flush();
  EXPECT_EQ(Counter(), 103u);
  counter.Flush();
  EXPECT_EQ(Counter(), 103u) << "nothing counted twice";
}

TEST_F(VisitCounterTest, StopWritesWhatIsCounted) {
  CVisitCounter counter;
  for (int i = 0; i < 7; ++i) counter.Count();
  counter.Stop();
  EXPECT_EQ(Counter(), 7u);
  counter.Count();  // after the stop: written by a flush only
  EXPECT_EQ(Counter(), 7u);
  counter.Flush();
  EXPECT_EQ(Counter(), 8u);
}

TEST_F(VisitCounterTest, CounterStopsAtTheLargestValueAndMissingKeyCountsNothing) {
  SetCounter(0xFFFFFFF0u);
  CVisitCounter counter;
  for (int i = 0; i < 100; ++i) counter.Count();
  counter.Flush();
  EXPECT_EQ(Counter(), 0xFFFFFFFFu);

  site.RemoveSetting("Setup");
  site.RemoveSetting("");
  const std::optional<FileIdentity> before = IdentifyFile(site.registryPath);
  counter.Count();
  counter.Flush();
  EXPECT_FALSE(Counter());
  EXPECT_EQ(IdentifyFile(site.registryPath), before) << "nothing written without the key";
}

TEST_F(VisitCounterTest, ProcessesSharingTheRegistryFileAddUp) {
  SetCounter(5);
  // The children wait for one signal, so that their writes overlap: each
  // counts on two threads and flushes every 50 visits.
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < 4; ++p) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      char c;
      if (::read(start[0], &c, 1) != 0) ::_exit(2);  // the parent closes its end: end of file
      {
        CVisitCounter counter;
        auto visit = [&counter] {
          for (int i = 0; i < 250; ++i) {
            counter.Count();
            if (i % 50 == 0) counter.Flush();
          }
        };
        std::thread other(visit);
        visit();
        other.join();
      }  // stops, writing the rest
      ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Counter(), 5u + 4 * 2 * 250);
}

TEST_F(VisitCounterTest, TwoCountersOnOneFileAddUp) {
  // Two extensions of one process (two hosts' worth of counters) writing
  // at once through their own threads and flushes.
  CVisitCounter first, second;
  std::thread a([&] {
    for (int i = 0; i < 3000; ++i) {
      first.Count();
      if (i % 100 == 0) first.Flush();
    }
  });
  std::thread b([&] {
    for (int i = 0; i < 2000; ++i) {
      second.Count();
      if (i % 70 == 0) second.Flush();
    }
  });
  a.join();
  b.join();
  first.Stop();
  second.Stop();
  EXPECT_EQ(Counter(), 5000u);
}

TEST_F(VisitCounterTest, KilledProcessLosesAtMostItsLastSecond) {
  // The child counts a visit every millisecond and publishes how many it has
  // counted; the parent notes those counts against time and kills it.
  auto* made = static_cast<std::atomic<std::uint64_t>*>(
      ::mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(made, MAP_FAILED);
  new (made) std::atomic<std::uint64_t>(0);
  pid_t pid = ::fork();
  if (pid == 0) {
    CVisitCounter counter;
    for (;;) {
      counter.Count();
      made->fetch_add(1);
      std::this_thread::sleep_for(1ms);
    }
  }
  ASSERT_GT(pid, 0);
  std::vector<std::pair<Clock::time_point, std::uint64_t>> seen;
  for (auto end = Clock::now() + 3500ms; Clock::now() < end; std::this_thread::sleep_for(10ms))
    seen.emplace_back(Clock::now(), made->load());
  ::kill(pid, SIGKILL);
  const auto killed = Clock::now();
  const std::uint64_t total = made->load();
  ::waitpid(pid, nullptr, 0);
  ::munmap(made, sizeof(std::atomic<std::uint64_t>));

  // Counted 1.5 s before the kill (a second, and the time a write takes on a
  // busy machine): on disk by then.
  std::uint64_t due = 0;
  for (const auto& [when, count] : seen)
    if (when < killed - 1500ms) due = count;
  std::optional<DWORD> written = Counter();
  ASSERT_TRUE(written);
  EXPECT_GE(*written, due) << "visits lost beyond the last second";
  EXPECT_LE(*written, total);
  EXPECT_GT(due, 0u);
}

}  // namespace
}  // namespace portico
