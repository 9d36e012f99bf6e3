#include "platform/sync.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "platform/windows_types.h"

namespace {

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
  CEvent ready;
  std::atomic<int> passed{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      ready.Wait();
      ++passed;
    });
  EXPECT_FALSE(ready.WaitFor(std::chrono::milliseconds(20)));
  EXPECT_EQ(passed.load(), 0);
  ready.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(passed.load(), 4);
  EXPECT_TRUE(ready.WaitFor(std::chrono::milliseconds(0)));  // still set
  ready.Reset();
  EXPECT_FALSE(ready.IsSet());
}

TEST(Mutex, IsReentrant) {
  CMutex m;
  CSingleLock outer(m);
  CSingleLock inner(m);  // would deadlock with a plain mutex
  EXPECT_TRUE(inner.owns_lock());
}

TEST(IdleThread, RunsItsBody) {
  std::atomic<bool> ran{false};
  std::atomic<int> policy{-1};
  std::thread t = StartIdleThread([&] {
    int p;
    sched_param sp;
    pthread_getschedparam(pthread_self(), &p, &sp);
    policy = p;
    ran = true;
  });
  t.join();
  EXPECT_TRUE(ran.load());
#ifdef SCHED_IDLE
  // Where the system refuses the idle class the thread runs normally.
  EXPECT_TRUE(policy.load() == SCHED_IDLE || policy.load() == SCHED_OTHER);
#endif
}

TEST(MessageBox, GoesToTheSink) {
  std::string got;
  auto previous = SetMessageSink([&](const std::string& text, const std::string& caption) {
    got = caption + "|" + text;
  });
  MessageBox("No buff", "FileServer");
  SetMessageSink(previous);
  EXPECT_EQ(got, "FileServer|No buff");
}

TEST(Guid, NewGuidsDiffer) {
  GUID a = NewGuid(), b = NewGuid();
  EXPECT_FALSE(a == b);
  EXPECT_EQ((a.Data3 >> 12) & 0xF, 4);
}

}  // namespace
