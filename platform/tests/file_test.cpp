#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/paths.h"

namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto p = CreateTempFile(TempDirectory(), "vamutest");
    ASSERT_TRUE(p);
    path = *p;
  }
  void TearDown() override { DeleteFileAt(path); }
  std::string path;
};

TEST_F(FileTest, OpenFlagsKeepTheirValues) {
  EXPECT_EQ(CFile::modeRead, 0u);
  EXPECT_EQ(CFile::modeWrite, 1u);
  EXPECT_EQ(CFile::modeReadWrite, 2u);
  EXPECT_EQ(CFile::shareDenyNone, 0x40u);
  EXPECT_EQ(CFile::modeCreate, 0x1000u);
}

TEST_F(FileTest, WriteSeekReadRoundTrip) {
  CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
  f.Write("hello world", 11);
  EXPECT_EQ(f.GetLength(), 11u);
  f.Seek(6, CFile::begin);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, 16), 5u);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(f.Read(buf, 16), 0u);  // at the end
  f.Seek(-5, CFile::end);
  EXPECT_EQ(f.GetPosition(), 6u);
  f.SetLength(3);
  EXPECT_EQ(f.GetLength(), 3u);
  EXPECT_THROW(f.Seek(-10, CFile::begin), CFileException);
}

TEST_F(FileTest, WritingPastTheEndLeavesZeros) {
  CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
  f.Seek(4, CFile::begin);
  f.Write("x", 1);
  f.SeekToBegin();
  char buf[5];
  ASSERT_EQ(f.Read(buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), std::string("\0\0\0\0x", 5));
}

TEST_F(FileTest, MissingFileFailsWithItsCause) {
  CFile f;
  CFileException e;
  EXPECT_FALSE(f.Open((path + ".none").c_str(), CFile::modeRead, &e));
  EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  EXPECT_THROW(CFile((path + ".none").c_str(), CFile::modeRead), CFileException);
}

TEST_F(FileTest, ReadOnlyFileRefusesWrites) {
  CFile f(path.c_str(), CFile::modeRead);
  EXPECT_THROW(f.Write("x", 1), CFileException);
}

TEST_F(FileTest, ReadersShareAndAWriterExcludes) {
  CFile reader1(path.c_str(), CFile::modeRead);
  CFile reader2;
  EXPECT_TRUE(reader2.Open(path.c_str(), CFile::modeRead));
  CFile writer;
  CFileException e;
  EXPECT_FALSE(writer.Open(path.c_str(), CFile::modeReadWrite, &e));
  EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
  reader1.Close();
  reader2.Close();
  EXPECT_TRUE(writer.Open(path.c_str(), CFile::modeReadWrite));
  CFile reader3;
  EXPECT_FALSE(reader3.Open(path.c_str(), CFile::modeRead, &e));
  EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
  // Opening without sharing rules takes no lock.
  EXPECT_TRUE(reader3.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone));
}

TEST_F(FileTest, LockHoldsAcrossProcesses) {
  CFile writer(path.c_str(), CFile::modeReadWrite);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CFile f;
    _exit(f.Open(path.c_str(), CFile::modeRead) ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a reader in another process got past the writer's lock";
}

TEST_F(FileTest, CreateTruncatesOnlyOnceTheLockIsHeld) {
  {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write("abc", 3);
  }
  CFile reader(path.c_str(), CFile::modeRead);
  CFile writer;
  EXPECT_FALSE(writer.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
  EXPECT_EQ(reader.GetLength(), 3u);
}

TEST_F(FileTest, ReadAheadNeverServesStaleBytes) {
  CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
  std::string data(200000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 % 251);
  f.Write(data.data(), static_cast<UINT>(data.size()));
  // Small reads across window boundaries, then one large read.
  std::string back;
  f.SeekToBegin();
  char buf[700];
  for (UINT n; (n = f.Read(buf, sizeof buf)) > 0;) back.append(buf, n);
  EXPECT_EQ(back, data);
  f.Seek(1000, CFile::begin);
  std::string big(150000, '\0');
  EXPECT_EQ(f.Read(big.data(), 150000), 150000u);
  EXPECT_EQ(big, data.substr(1000, 150000));
  // A write inside the window that an earlier read filled is seen by the next read.
  f.Seek(10, CFile::begin);
  f.Read(buf, 4);
  f.Seek(12, CFile::begin);
  f.Write("ZZ", 2);
  f.Seek(10, CFile::begin);
  ASSERT_EQ(f.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf + 2, 2), "ZZ");
  f.SetLength(11);
  f.Seek(10, CFile::begin);
  EXPECT_EQ(f.Read(buf, 4), 1u);
}

TEST(MemFile, DirectWritingCountsLikeWrite) {
  CMemFile m;
  m.Write("ab", 2);
  BYTE* p = m.PrepareWrite(10);
  std::memcpy(p, "cdef", 4);
  m.CommitWrite(4);
  EXPECT_EQ(m.GetLength(), 6u);
  EXPECT_EQ(m.GetPosition(), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.GetBuffer()), 6), "abcdef");
  m.Seek(8, CFile::begin);  // a gap before the direct write is zero-filled
  m.PrepareWrite(1)[0] = 'x';
  m.CommitWrite(1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.GetBuffer()), 9), std::string("abcdef\0\0x", 9));
}

TEST(MemFile, GrowsAndReadsBack) {
  CMemFile m(4096);
  std::string text(10000, 'a');
  m.Write(text.data(), static_cast<UINT>(text.size()));
  EXPECT_EQ(m.GetLength(), 10000u);
  m.SeekToBegin();
  std::string back(10000, '\0');
  EXPECT_EQ(m.Read(back.data(), 20000), 10000u);
  EXPECT_EQ(back, text);
}

TEST(MemFile, SetLengthZeroFillsAndClampsPosition) {
  CMemFile m;
  m.Write("abc", 3);
  m.SetLength(6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.GetBuffer()), 6), std::string("abc\0\0\0", 6));
  m.SetLength(2);
  EXPECT_EQ(m.GetPosition(), 2u);
  EXPECT_EQ(m.GetLength(), 2u);
}

TEST(MemFile, SeekPastEndThenWriteFillsGap) {
  CMemFile m;
  m.Seek(3, CFile::begin);
  m.Write("z", 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.GetBuffer()), 4), std::string("\0\0\0z", 4));
}

TEST(MemFile, DetachHandsOverTheBlock) {
  CMemFile m;
  m.Write("xyz", 3);
  BYTE* p = m.Detach();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 3), "xyz");
  std::free(p);
  EXPECT_EQ(m.GetLength(), 0u);
  EXPECT_EQ(m.GetBuffer(), nullptr);
}

TEST(MemFile, HugeLengthIsRefusedNotAllocated) {
  CMemFile m;
  EXPECT_THROW(m.SetLength(ULONGLONG(1) << 40), CMemoryException);
}

TEST(FileSystem, CopyAndDelete) {
  auto a = CreateTempFile(TempDirectory());
  ASSERT_TRUE(a);
  EXPECT_NE(a->find("/vamu"), std::string::npos);
  {
    CFile f(a->c_str(), CFile::modeWrite);
    f.Write("data", 4);
  }
  std::string b = *a + ".copy";
  EXPECT_TRUE(CopyFileReplace(*a, b));
  CFile g(b.c_str(), CFile::modeRead);
  EXPECT_EQ(g.GetLength(), 4u);
  EXPECT_TRUE(DeleteFileAt(*a));
  EXPECT_TRUE(DeleteFileAt(b));
  EXPECT_FALSE(FileExists(*a));
  EXPECT_FALSE(CopyFileReplace(*a, b));
}

TEST(Paths, DirectoryOf) {
  EXPECT_EQ(DirectoryOf("/a/b/c.so"), "/a/b");
  EXPECT_EQ(DirectoryOf("c.so"), ".");
  EXPECT_EQ(DirectoryOf("/c.so"), "/");
}

TEST(Paths, LoadedModuleDirectoryFindsALoadedLibrary) {
  auto dir = LoadedModuleDirectory("vamuplatform");
  ASSERT_TRUE(dir);
  EXPECT_TRUE(FileExists(*dir + "/libvamuplatform.so"));
  EXPECT_FALSE(LoadedModuleDirectory("no-such-module-here"));
}

TEST(Paths, TempDirectoryFollowsTmpdir) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", "/nonexistent-dir-for-test", 1);
  EXPECT_EQ(TempDirectory(), "/tmp");
  setenv("TMPDIR", "/", 1);
  EXPECT_EQ(TempDirectory(), "/");
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
}

}  // namespace
