// The container file format: the name hash, the bytes of new and filled
// containers, and lookups that depend on the stored table.
#include "container_fixture.h"

namespace kasten_test {
namespace {

TEST(MakeHash, KnownValues) {
  EXPECT_EQ(CFileServer::MakeHash(""), 0xFFFFFFD0u);
  EXPECT_EQ(CFileServer::MakeHash("abc"), 0xFFB5A56Fu);
  EXPECT_EQ(CFileServer::MakeHash("A.HTM"), 0x19E1E02Fu);  // step by step in FirstAppendWritesSlotMarkerLinkThenRecord
}

TEST(MakeHash, IsCaseSensitiveAndTakesHighBytesAsNegative) {
  EXPECT_NE(CFileServer::MakeHash("abc"), CFileServer::MakeHash("ABC"));
  // One byte 0xB9 (ą) counts as -71: h = 0 - (-71) - 48 = 23, then the NUL.
  DWORD h = 23;
  h = ((h << 5) | (h >> 27)) - 0 - 48;
  EXPECT_EQ(CFileServer::MakeHash("\xB9"), h);
}

TEST(MakeHash, LastComponent) {
  EXPECT_STREQ(CFileServer::LastComponent("DU\\D97034.HTM"), "D97034.HTM");
  EXPECT_STREQ(CFileServer::LastComponent("plain"), "plain");
}

TEST_F(ContainerTest, NewContainerIsAFortyByteHeader) {
  {
    CFileServer fs;
    ASSERT_TRUE(fs.Init(path.c_str(), &kGuid, CFile::modeReadWrite));
  }
  std::string bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 40u);
  EXPECT_EQ(WordAt(bytes, 0), 0u);   // slot count
  EXPECT_EQ(WordAt(bytes, 4), 1u);   // contiguous
  EXPECT_EQ(WordAt(bytes, 8), kGuid.Data1);
  EXPECT_EQ(WordAt(bytes, 28), 0u);  // no table
  EXPECT_EQ(WordAt(bytes, 32), 0u);
}

TEST_F(ContainerTest, FirstAppendWritesSlotMarkerLinkThenRecord) {
  CFileServer fs;
  ASSERT_TRUE(fs.Init(path.c_str(), &kGuid, CFile::modeReadWrite));
  ASSERT_EQ(Add(fs, "A.HTM", "hello", 0), 0u);
  fs.Close();
  std::string b = ReadWholeFile(path);
  EXPECT_EQ(WordAt(b, 0), 1u);
  EXPECT_EQ(WordAt(b, 4), 0u);  // written to: chained layout flag
  EXPECT_EQ(WordAt(b, 40), 52u);
  EXPECT_EQ(WordAt(b, 44), 0u);
  EXPECT_EQ(WordAt(b, 48), 0u);
  // Record: descriptor (2 + "A.HTM\0" = 8 bytes), method, contents, stored, bytes.
  EXPECT_EQ(b[52], 8);
  EXPECT_EQ(b.substr(54, 6), std::string("A.HTM\0", 6));
  EXPECT_EQ(WordAt(b, 60), 0u);
  EXPECT_EQ(WordAt(b, 64), 5u);
  EXPECT_EQ(WordAt(b, 68), 5u);
  EXPECT_EQ(b.substr(72, 5), "hello");
  // The hash table follows: one entry, slot 0 and the name's hash, worked
  // out by hand (h = rotate-left(h, 5) - byte - 48, the final NUL included):
  //   'A'  rot 0x00000000  h 0xFFFFFF8F     'T'  rot 0xFFC678FF  h 0xFFC6787B
  //   '.'  rot 0xFFFFF1FF  h 0xFFFFF1A1     'M'  rot 0xF8CF0F7F  h 0xF8CF0F02
  //   'H'  rot 0xFFFE343F  h 0xFFFE33C7     NUL  rot 0x19E1E05F  h 0x19E1E02F
  EXPECT_EQ(WordAt(b, 28), 77u);
  EXPECT_EQ(WordAt(b, 77), 0u);
  EXPECT_EQ(WordAt(b, 81), 0x19E1E02Fu);
  EXPECT_EQ(b.size(), 85u);
}

TEST_F(ContainerTest, CreateWithWriteFlagYieldsReadWriteContainer) {
  CFileServer fs;
  ASSERT_TRUE(fs.Init(path.c_str(), &kGuid, CFile::modeWrite));
  EXPECT_TRUE(fs.IsWritable());
  EXPECT_EQ(Add(fs, "X", "x"), 0u);
  EXPECT_EQ(Contents(fs, 0), "x");  // readable too
}

TEST_F(ContainerTest, CreationNeedsWritableFlagsAndAGuid) {
  CFileServer fs;
  EXPECT_FALSE(fs.Init(path.c_str(), &kGuid, CFile::modeRead));
  EXPECT_FALSE(fs.Init(path.c_str(), nullptr, CFile::modeReadWrite));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(fs.Init((dir + "/no/such/dir/base.dat").c_str(), &kGuid, CFile::modeReadWrite));
}

TEST_F(ContainerTest, CreateFlagNeverCutsAnExistingContainer) {
  const UINT flags = CFile::modeCreate | CFile::modeReadWrite;
  {
    CFileServer fs(path.c_str(), &kGuid, flags);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
    fs.RemoveFile(0);
  }
  CFileServer fs(path.c_str(), &kGuid, flags);
  ASSERT_TRUE(fs.IsOpen());
  EXPECT_EQ(Contents(fs, 1), "b");
  ASSERT_TRUE(fs.Compact());  // reopens with the same flags
  EXPECT_EQ(fs.GetSize(), 1u);
  EXPECT_EQ(Contents(fs, 0), "b");
}

TEST_F(ContainerTest, InitOnAnOpenObjectFails) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  ASSERT_TRUE(fs.IsOpen());
  EXPECT_FALSE(fs.Init(path.c_str(), &kGuid, CFile::modeReadWrite));
  EXPECT_TRUE(fs.IsOpen());
}

TEST_F(ContainerTest, ReadOnlyContainerRefusesEveryWrite) {
  { CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite); Add(fs, "A", "a"); }
  std::string before = ReadWholeFile(path);
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    ASSERT_TRUE(fs.IsOpen());
    EXPECT_EQ(Add(fs, "B", "b"), CFileServer::kNoItem);
    EXPECT_EQ(Replace(fs, 0, "B", "b"), CFileServer::kNoItem);
    EXPECT_EQ(fs.SetSize(5, TRUE), CFileServer::kNoItem);
    fs.RemoveFile(0);
    fs.SetGuid(GUID{});
    fs.CreateHashTable();
    EXPECT_FALSE(fs.Compact());
  }
  EXPECT_EQ(ReadWholeFile(path), before);
}

TEST_F(ContainerTest, NoTableMeansNoNamesUntilRebuilt) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "DU\\D97034.HTM", "doc");
  }
  {  // Clear the table offset in the header.
    CFile f(path.c_str(), CFile::modeReadWrite);
    DWORD zero = 0;
    f.Seek(28, CFile::begin);
    f.Write(&zero, 4);
  }
  CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
  EXPECT_EQ(fs.GetItemIndex("D97034.HTM"), CFileServer::kNoItem);
  EXPECT_EQ(Contents(fs, 0), "doc");  // by index still
  fs.CreateHashTable();
  EXPECT_EQ(fs.GetItemIndex("D97034.HTM"), 0u);
  fs.Close();
  CFileServer again(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(again.GetItemIndex("D97034.HTM"), 0u);
}

TEST_F(ContainerTest, GuidSurvivesAndCanBeChanged) {
  GUID other = {1, 2, 3, {9, 9, 9, 9, 9, 9, 9, 9}};
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    EXPECT_TRUE(fs.GetGuid() == kGuid);
    fs.SetGuid(other);
  }
  CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_TRUE(fs.GetGuid() == other);
}

// Sets the reserved header word (offset 24) of a closed container.
void SetReservedWord(const std::string& path, DWORD value) {
  CFile f(path.c_str(), CFile::modeReadWrite);
  BYTE b[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
  f.Seek(24, CFile::begin);
  f.Write(b, 4);
}

TEST_F(ContainerTest, ReservedWordBelongsToEachContainer) {
  const std::string a = path, b = dir + "/other.dat", fresh = dir + "/fresh.dat";
  {
    CFileServer fs(a.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    CFileServer other(b.c_str(), &kGuid, CFile::modeReadWrite);
    Add(other, "B", "b");
  }
  SetReservedWord(a, 7);
  SetReservedWord(b, 0xCAFEBABE);
  {
    CFileServer writer(a.c_str(), nullptr, CFile::modeReadWrite);
    CFileServer reader(b.c_str(), nullptr, CFile::modeRead);  // opened after A: must not change A's word
    EXPECT_EQ(reader.ReservedWord(), 0xCAFEBABEu);
    EXPECT_EQ(writer.ReservedWord(), 7u);
    Add(writer, "A2", "a2");
    // A container created now starts with 0, whatever was opened before.
    CFileServer created(fresh.c_str(), &kGuid, CFile::modeReadWrite);
    Add(created, "C", "c");
  }
  EXPECT_EQ(WordAt(ReadWholeFile(a), 24), 7u);
  EXPECT_EQ(WordAt(ReadWholeFile(b), 24), 0xCAFEBABEu);
  EXPECT_EQ(WordAt(ReadWholeFile(fresh), 24), 0u);
}

TEST_F(ContainerTest, CompactCarriesANonzeroReservedWord) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
  }
  SetReservedWord(path, 0x89ABCDEF);
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    fs.RemoveFile(0);
    ASSERT_TRUE(fs.Compact());
    EXPECT_EQ(fs.ReservedWord(), 0x89ABCDEFu);
  }
  const std::string compacted = ReadWholeFile(path);
  EXPECT_EQ(WordAt(compacted, 0), 1u);  // compacted indeed
  EXPECT_EQ(WordAt(compacted, 24), 0x89ABCDEFu);
  EXPECT_EQ(WordAt(ReadWholeFile(dir + "/base.bak"), 24), 0x89ABCDEFu);
}

}  // namespace
}  // namespace kasten_test
