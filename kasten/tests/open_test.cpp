// Opening: waiting for a container another process holds, failing at once
// for what waiting cannot cure, and a second zlib user reading our files.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

// The order of events is checked, not durations: the reader must say it
// waits, must not open while the writer holds the container, and must open
// once the writer lets go.
TEST_F(ContainerTest, WaitsForAContainerAnotherProcessHolds) {
  { CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite); Add(fs, "A", "a"); }
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CFileServer writer(path.c_str(), nullptr, CFile::modeReadWrite);
    char c = writer.IsOpen() ? 1 : 0;
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);  // hold it until the parent has seen the reader wait
    writer.Close();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 1);
  std::atomic<int> waits{0};
  std::atomic<bool> released{false}, openedBeforeRelease{false};
  auto previous = SetMessageSink([&](const std::string& text, const std::string& caption) {
    if (text == "I'm sleep 1000ms" && caption.empty() && waits++ == 0) {
      // The reader is waiting: now let the writer go.
      released = true;
      char go = 1;
      (void)!write(release[1], &go, 1);
    }
  });
  CFileServer reader;
  const BOOL opened = reader.Init(path.c_str(), nullptr, CFile::modeRead);
  openedBeforeRelease = !released;
  SetMessageSink(previous);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(opened);
  EXPECT_GE(waits.load(), 1);
  EXPECT_FALSE(openedBeforeRelease.load());
  EXPECT_EQ(Contents(reader, 0), "a");
}

TEST_F(ContainerTest, WhatWaitingCannotCureFailsAtOnce) {
  std::string notAFile = dir + "/adirectory";
  ASSERT_EQ(mkdir(notAFile.c_str(), 0700), 0);
  auto start = std::chrono::steady_clock::now();
  CFileServer fs;
  EXPECT_FALSE(fs.Init(notAFile.c_str(), nullptr, CFile::modeRead));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_FALSE(fs.IsOpen());
}

TEST_F(ContainerTest, ReadersShareAContainer) {
  { CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite); Add(fs, "A", "a"); }
  CFileServer one(path.c_str(), nullptr, CFile::modeRead);
  CFileServer two(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(Contents(one, 0), "a");
  EXPECT_EQ(Contents(two, 0), "a");
}

// Documents appended one by one each put a slot block beside their record,
// so the chain a reader walks at opening runs through the whole file in
// steps of a record's length: a few bytes, kilobytes, or more than the
// reader's largest window. Every item opened afresh reads what was written.
TEST_F(ContainerTest, AChainOfBlocksBesideAppendedItemsOfEverySizeIsWalkedWhole) {
  std::mt19937 random(3);
  std::vector<std::string> written;
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (int i = 0; i < 400; ++i) {
      // Mostly a few kilobytes, some tiny, a few past 64 KB; random bytes
      // stay about their size when compressed.
      const std::size_t size = i % 50 == 7 ? 70000 + random() % 60000 : i % 9 == 0 ? random() % 40 : random() % 9000;
      std::string text(size, '\0');
      for (char& c : text) c = static_cast<char>(random());
      written.push_back(text);
      ASSERT_EQ(Add(fs, "D" + std::to_string(i) + ".HTM", text), static_cast<DWORD>(i));
    }
  }
  CFileServer reader(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_EQ(reader.GetSize(), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) ASSERT_EQ(Contents(reader, static_cast<DWORD>(i)), written[i]) << i;
}

// A container written here is read by an independent reader in Python that
// follows the file format and inflates with Python's own zlib.
TEST_F(ContainerTest, IndependentReaderAgrees) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (int i = 0; i < 40; ++i) {
      std::string text;
      for (int k = 0; k < i * 40; ++k) text += static_cast<char>(k % 7 == 0 ? '\xB9' : 'a' + (k * i) % 26);
      std::string name = "DU\\D9" + std::to_string(1000 + i) + ".HTM";
      DWORD at = i % 6 == 5 ? 2 : fs.GetSize();
      Insert(fs, at, name, text, i % 3);
    }
    fs.RemoveFile(7);
    fs.SetSize(45, TRUE);
  }
  std::string cmd;
  EXPECT_EQ(RunIndependentReader(path, dir, &cmd), 0) << cmd;
  // The compacted file, read by direct addressing, agrees as well.
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    fs.Compact();
  }
  EXPECT_EQ(RunIndependentReader(path, dir, &cmd), 0) << cmd;
}

}  // namespace
}  // namespace kasten_test
