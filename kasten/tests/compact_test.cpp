// Compaction and union: dead space dropped, contiguous layout, backups, the
// hooks, and the placement of a derived class's system files.
#include <string>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

class DeleteRecorder : public CFileServer {
 public:
  using CFileServer::CFileServer;
  std::vector<DWORD> deleted;

 protected:
  void OnDelete(DWORD i) override { deleted.push_back(i); }
};

TEST_F(ContainerTest, CompactDropsEmptySlotsAndKeepsOrder) {
  DeleteRecorder fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  Add(fs, "B", "b");
  Add(fs, "C", "c");
  fs.RemoveFile(1);
  ASSERT_TRUE(fs.Compact());
  EXPECT_EQ(fs.deleted, (std::vector<DWORD>{1}));
  EXPECT_EQ(fs.GetSize(), 2u);
  EXPECT_EQ(fs.GetLayout(), 1u);
  EXPECT_EQ(Contents(fs, 0), "a");
  EXPECT_EQ(Contents(fs, 1), "c");
  EXPECT_EQ(fs.GetItemIndex("C"), 1u);
  EXPECT_EQ(fs.GetItemIndex("B"), CFileServer::kNoItem);
  EXPECT_TRUE(fs.IsWritable());
  fs.Close();
  std::string b = ReadWholeFile(path);
  EXPECT_EQ(WordAt(b, 0), 2u);
  EXPECT_EQ(WordAt(b, 4), 1u);
  EXPECT_EQ(WordAt(b, 48), 0u);  // marker and link behind the two slots
  EXPECT_EQ(WordAt(b, 52), 0u);
  EXPECT_EQ(WordAt(b, 40), 56u);  // records follow back to back
}

TEST_F(ContainerTest, CompactReportsSuccessiveDropsAtTheirCurrentIndex) {
  // Slots a _ b _ _ c: each drop is reported where the items stand once the
  // earlier drops are done (1, 2, 2), so that a follower applying them in
  // order ends with a, b, c at 0, 1, 2.
  DeleteRecorder fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  for (const char* n : {"A", "X1", "B", "X2", "X3", "C"}) Add(fs, n, n);
  for (DWORD i : {1u, 3u, 4u}) fs.RemoveFile(i);
  ASSERT_TRUE(fs.Compact());
  EXPECT_EQ(fs.deleted, (std::vector<DWORD>{1, 2, 2}));
  EXPECT_EQ(Contents(fs, 2), "C");
}

TEST_F(ContainerTest, CompactKeepsABackupOfTheOldFile) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
    fs.RemoveFile(0);
    ASSERT_TRUE(fs.Compact());
  }
  ASSERT_TRUE(FileExists(dir + "/base.bak"));
  CFileServer backup((dir + "/base.bak").c_str(), nullptr, CFile::modeRead);
  ASSERT_TRUE(backup.IsOpen());
  EXPECT_EQ(backup.GetSize(), 2u);
  EXPECT_EQ(Contents(backup, 1), "b");
  EXPECT_EQ(Contents(backup, 0), "<none>");
}

TEST_F(ContainerTest, CompactKeepsTheContainersPermissionsForItAndItsBackup) {
  const mode_t mask = ::umask(022);
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
    fs.RemoveFile(0);
  }
  // Kept from others by the operator; a new file would be 0644 under this mask.
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    ASSERT_TRUE(fs.Compact());
  }
  ::umask(mask);
  auto permissions = [](const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  };
  EXPECT_EQ(permissions(path), 0640u);
  EXPECT_EQ(permissions(dir + "/base.bak"), 0640u);
  CFileServer compacted(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_EQ(compacted.GetSize(), 1u);
  EXPECT_EQ(Contents(compacted, 0), "b");
}

TEST(BackupName, ReplacesTheExtensionOfTheFileName) {
  EXPECT_EQ(CFileServer::BackupName("base.dat"), "base.bak");
  EXPECT_EQ(CFileServer::BackupName("/srv/bases/acts.vq"), "/srv/bases/acts.bak");
  EXPECT_EQ(CFileServer::BackupName("ab"), "ab.bak");
  EXPECT_EQ(CFileServer::BackupName("a.x"), "a.x.bak");  // no '.' after the second character
  EXPECT_EQ(CFileServer::BackupName("/srv/v1.2/base"), "/srv/v1.2/base.bak");
  EXPECT_EQ(CFileServer::BackupName("/srv/.hidden"), "/srv/.hidden.bak");
}

TEST_F(ContainerTest, CompactOfAChainedContainerReadsTheSameAsBefore) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  std::vector<std::string> want;
  for (int i = 0; i < 30; ++i) {
    std::string text = "document " + std::to_string(i) + std::string(i * 13, '*');
    DWORD at = static_cast<DWORD>(i % 4 == 3 ? i / 2 : fs.GetSize());
    Insert(fs, at, "N" + std::to_string(i), text, i % 3);
    want.insert(want.begin() + at, text);
  }
  ASSERT_TRUE(fs.Compact());
  ASSERT_EQ(fs.GetSize(), want.size());
  for (DWORD i = 0; i < want.size(); ++i) EXPECT_EQ(Contents(fs, i), want[i]) << i;
  // Direct addressing of the contiguous file agrees with the chain walk.
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  for (DWORD i = 0; i < want.size(); ++i) EXPECT_EQ(Contents(ro, i), want[i]) << i;
}

// A container that treats items named "SYS..." as its system files and
// writes `systemFiles` of them after a union.
class WithSystemFiles : public CFileServer {
 public:
  using CFileServer::CFileServer;
  int systemFiles = 2;
  int written = 2;
  BOOL IsSystemFile(DWORD index) override {
    _FILEITEM* item = GetItem(index);
    bool sys = item && std::strncmp(item->szName, "SYS", 3) == 0;
    FreeFileItem(item);
    return sys;
  }

 protected:
  DWORD GetSystemFilesCount() override { return static_cast<DWORD>(systemFiles); }
  void WriteSystemFiles() override {
    for (int i = 0; i < written; ++i) Add(*this, "SYS" + std::to_string(i), "system " + std::to_string(i), 2);
  }
};

class UnionTest : public ContainerTest {
 protected:
  // Two compacted sources with 3 and 4 documents, each with a system file.
  void MakeSources() {
    first = dir + "/first.dat";
    second = dir + "/second.dat";
    {
      WithSystemFiles a(first.c_str(), &kGuid, CFile::modeReadWrite);
      for (const char* n : {"A0", "A1", "SYSa", "A2"}) Add(a, n, std::string("text of ") + n);
      a.Compact();
      WithSystemFiles b(second.c_str(), &kGuid, CFile::modeReadWrite);
      for (const char* n : {"B0", "B1", "B2", "B3", "SYSb"}) Add(b, n, std::string("text of ") + n, 0);
      b.Compact();
    }
  }
  std::string first, second;
};

TEST_F(UnionTest, DocumentsOfBothInOrderThenTheSystemFilesContiguous) {
  MakeSources();
  WithSystemFiles a(first.c_str(), nullptr, CFile::modeRead), b(second.c_str(), nullptr, CFile::modeRead);
  WithSystemFiles target(path.c_str(), &kGuid, CFile::modeReadWrite);
  ASSERT_TRUE(target.Union(&a, &b));
  ASSERT_EQ(target.GetSize(), 9u);
  std::vector<std::string> names = {"A0", "A1", "A2", "B0", "B1", "B2", "B3", "SYS0", "SYS1"};
  for (DWORD i = 0; i < 9; ++i) {
    EXPECT_EQ(NameAt(target, i), names[i]);
    EXPECT_EQ(target.GetItemIndex(names[i].c_str()), i);
  }
  EXPECT_EQ(Contents(target, 3), "text of B0");
  EXPECT_EQ(Contents(target, 8), "system 1");
  EXPECT_EQ(target.GetLayout(), 1u);
  target.Close();
  // Contiguous for real: a reader that addresses slots directly agrees.
  std::string bytes = ReadWholeFile(path);
  EXPECT_EQ(WordAt(bytes, 4), 1u);
  WithSystemFiles ro(path.c_str(), nullptr, CFile::modeRead);
  for (DWORD i = 0; i < 9; ++i) EXPECT_EQ(NameAt(ro, i), names[i]);
  EXPECT_EQ(ro.GetItemIndex("SYS1"), 8u);
}

TEST_F(UnionTest, MoreSystemFilesThanReservedLeaveAChainedButSoundTable) {
  MakeSources();
  WithSystemFiles a(first.c_str(), nullptr, CFile::modeRead), b(second.c_str(), nullptr, CFile::modeRead);
  WithSystemFiles target(path.c_str(), &kGuid, CFile::modeReadWrite);
  target.systemFiles = 1;
  target.written = 3;
  ASSERT_TRUE(target.Union(&a, &b));
  EXPECT_EQ(target.GetSize(), 10u);
  EXPECT_EQ(target.GetLayout(), 0u);
  target.Close();
  WithSystemFiles ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(NameAt(ro, 6), "B3");
  EXPECT_EQ(NameAt(ro, 9), "SYS2");
  EXPECT_EQ(Contents(ro, 9), "system 2");
}

TEST_F(UnionTest, FewerSystemFilesThanReserved) {
  MakeSources();
  WithSystemFiles a(first.c_str(), nullptr, CFile::modeRead), b(second.c_str(), nullptr, CFile::modeRead);
  WithSystemFiles target(path.c_str(), &kGuid, CFile::modeReadWrite);
  target.systemFiles = 4;
  target.written = 1;
  ASSERT_TRUE(target.Union(&a, &b));
  EXPECT_EQ(target.GetSize(), 8u);
  target.Close();
  WithSystemFiles ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(ro.GetSize(), 8u);
  EXPECT_EQ(NameAt(ro, 7), "SYS0");
  EXPECT_EQ(ro.GetItemIndex("B2"), 5u);
}

TEST_F(UnionTest, SourceWrittenAfterCompactionIsRefused) {
  MakeSources();
  {
    CFileServer b(second.c_str(), nullptr, CFile::modeReadWrite);
    b.RemoveFile(0);
  }
  WithSystemFiles a(first.c_str(), nullptr, CFile::modeRead), b(second.c_str(), nullptr, CFile::modeRead);
  CFileServer target(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(target, "KEEP", "keep");
  EXPECT_FALSE(target.Union(&a, &b));
  EXPECT_EQ(Contents(target, 0), "keep");
  CFileServer readOnly(first.c_str(), nullptr, CFile::modeRead);
  EXPECT_FALSE(readOnly.Union(&a, &a));
}

TEST_F(UnionTest, SkipsEmptySlotsAndOldTableEntries) {
  MakeSources();
  WithSystemFiles a(first.c_str(), nullptr, CFile::modeRead), b(second.c_str(), nullptr, CFile::modeRead);
  CFileServer target(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(target, "OLD", "old");  // replaced by the union entirely
  ASSERT_TRUE(target.Union(&a, &b));
  EXPECT_EQ(target.GetSize(), 7u);
  EXPECT_EQ(target.GetItemIndex("OLD"), CFileServer::kNoItem);
  EXPECT_EQ(target.GetItemIndex("B3"), 6u);
  // The base class has no system files: the "SYS" items travel as documents
  // only when the sources do not mark them; here the sources do.
  EXPECT_EQ(NameAt(target, 2), "A2");
}

}  // namespace
}  // namespace kasten_test
