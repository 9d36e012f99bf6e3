// Verify: sound containers of every shape the store writes are reported
// sound, and each kind of inconsistency the format lets a reader see is
// reported, naming the slot.
#include <random>
#include <string>
#include <vector>

#include "container_fixture.h"
#include "kasten/container_header.h"

namespace kasten_test {
namespace {

std::string Describe(const CFileServer::Report& r) {
  std::string s;
  for (const auto& f : r.findings)
    s += (f.slot == CFileServer::kNoItem ? std::string("base") : "slot " + std::to_string(f.slot)) + ": " + f.what + "\n";
  return s;
}

class VerifyTest : public ContainerTest {
 protected:
  CFileServer::Report VerifyFile(bool contents = true) {
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    EXPECT_TRUE(fs.IsOpen());
    return fs.Verify(contents);
  }
  void Write(const std::string& bytes) {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  }
  // The findings of the base in `bytes`; they must name `slot` (kNoItem: the
  // base as a whole) with a text containing `what`.
  void ExpectFinding(const std::string& bytes, DWORD slot, const std::string& what) {
    Write(bytes);
    const CFileServer::Report r = VerifyFile();
    bool seen = false;
    for (const auto& f : r.findings) seen = seen || (f.slot == slot && f.what.find(what) != std::string::npos);
    EXPECT_TRUE(seen) << "expected on " << (slot == CFileServer::kNoItem ? std::string("base") : std::to_string(slot))
                      << ": " << what << "\nfound:\n"
                      << Describe(r);
  }
  // A new base with three items A, B, C appended: chained, each slot in a
  // block of its own (slot 0 at 40, its link at 48).
  std::string Chained() {
    DeleteFileAt(path);
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A.HTM", "pierwszy dokument " + std::string(300, 'a'));
    Add(fs, "B.HTM", "drugi dokument " + std::string(300, 'b'));
    Add(fs, "C.HTM", "trzeci dokument " + std::string(300, 'c'));
    fs.Close();
    return ReadWholeFile(path);
  }
  std::string Compacted() {
    Chained();
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    fs.Compact();
    fs.Close();
    return ReadWholeFile(path);
  }
};

// Random writes of every kind, closed and reopened, compacted: never a finding.
TEST_F(VerifyTest, EveryShapeTheStoreWritesIsSound) {
  std::mt19937 rng(11);
  auto pick = [&](DWORD n) { return static_cast<DWORD>(std::uniform_int_distribution<DWORD>(0, n - 1)(rng)); };
  auto fs = std::make_unique<CFileServer>(path.c_str(), &kGuid, CFile::modeReadWrite);
  EXPECT_TRUE(fs->Verify(true).Sound()) << Describe(fs->Verify(true));
  int serial = 0;
  for (int step = 0; step < 160; ++step) {
    const DWORD op = pick(100), size = fs->GetSize();
    const std::string name = "DU\\N" + std::to_string(++serial) + ".HTM";
    const std::string text = "tekst " + std::to_string(serial) + std::string(pick(900), static_cast<char>('a' + serial % 26));
    if (op < 35 || size == 0) Add(*fs, name, text, pick(3));
    else if (op < 55) Insert(*fs, pick(size + 3), name, text, pick(3));
    else if (op < 68) Replace(*fs, pick(size), name, text, pick(3));
    else if (op < 80) fs->RemoveFile(pick(size));
    else if (op < 84) fs->SetSize(size + pick(4), TRUE);
    else if (op < 87) fs->SetSize(pick(size + 1), TRUE);
    else if (op < 94) {
      fs->Close();
      const CFileServer::Report r = VerifyFile();
      ASSERT_TRUE(r.Sound()) << "step " << step << "\n" << Describe(r);
      fs = std::make_unique<CFileServer>(path.c_str(), nullptr, CFile::modeReadWrite);
    } else {
      ASSERT_TRUE(fs->Compact());
    }
    const CFileServer::Report open = fs->Verify(true);
    ASSERT_TRUE(open.Sound()) << "step " << step << " (open for writing)\n" << Describe(open);
  }
  fs->Close();
  EXPECT_TRUE(VerifyFile().Sound());
}

TEST_F(VerifyTest, FreshAndEmptiedBasesAreSound) {
  { CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite); }
  EXPECT_TRUE(VerifyFile().Sound()) << Describe(VerifyFile());
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
    fs.SetSize(0, TRUE);  // ends the chain at offset 40
  }
  EXPECT_TRUE(VerifyFile().Sound()) << Describe(VerifyFile());
}

TEST_F(VerifyTest, ChainThatRunsBackIntoItself) {
  std::string b = Chained();
  PutWord(b, 48, 40);  // slot 0's link leads back to slot 0
  ExpectFinding(b, CFileServer::kNoItem, "runs back into itself");
}

TEST_F(VerifyTest, SlotCountThatDisagreesWithTheChain) {
  for (DWORD count : {0u, 2u, 5u}) {
    std::string b = Chained();
    PutWord(b, 0, count);
    ExpectFinding(b, CFileServer::kNoItem, "the slot chain holds 3 slots, the header counts " + std::to_string(count));
    b = Compacted();
    PutWord(b, 0, count);
    ExpectFinding(b, CFileServer::kNoItem, "the header counts " + std::to_string(count));
  }
}

TEST_F(VerifyTest, SlotsAndLinksOutsideTheFile) {
  std::string b = Chained();
  const std::string original = b;
  PutWord(b, 40, static_cast<DWORD>(b.size() + 10));
  ExpectFinding(b, 0, "points outside the file");
  b = original;
  PutWord(b, 48, static_cast<DWORD>(b.size() + 10));  // slot 0's link
  ExpectFinding(b, CFileServer::kNoItem, "leaves the file");
}

TEST_F(VerifyTest, TwoSlotsSharingARecord) {
  std::string b = Compacted();
  PutWord(b, 44, WordAt(b, 40));  // slot 1 names slot 0's record
  ExpectFinding(b, 1, "shares bytes with the record of slot 0");
}

TEST_F(VerifyTest, EmptySlotInAContiguousBase) {
  std::string b = Compacted();
  PutWord(b, 44, 0xFFFFFFFF);
  ExpectFinding(b, 1, "empty slot in a contiguous");
}

TEST_F(VerifyTest, LayoutFlagThatDoesNotFitTheChain) {
  std::string b = Chained();
  PutWord(b, 4, 1);
  ExpectFinding(b, CFileServer::kNoItem, "layout flag says contiguous");
  PutWord(b, 4, 7);
  ExpectFinding(b, CFileServer::kNoItem, "layout flag 7");
}

TEST_F(VerifyTest, RecordLengthsThatDoNotFit) {
  const std::string b = Compacted();
  const DWORD record = WordAt(b, 40);
  const DWORD fields = record + 8;  // "A.HTM" + NUL + the length word
  std::string d = b;
  PutWord(d, fields, 9);
  ExpectFinding(d, 0, "unknown storage method 9");
  d = b;
  PutWord(d, fields + 8, 0x00FFFFFF);
  ExpectFinding(d, 0, "run past the end of the file");
  d = b;
  PutWord(d, fields + 4, 0x7FFFFFFF);
  ExpectFinding(d, 0, "more than");
  d = b;
  PutWord(d, fields + 4, WordAt(b, fields + 4) + 1);  // one more than the stream holds
  ExpectFinding(d, 0, "damaged");
  d = b;
  d[record] = 2;  // a descriptor too short to hold a name
  ExpectFinding(d, 0, "descriptor");
}

TEST_F(VerifyTest, NameTableThatDoesNotMatchTheNames) {
  const std::string b = Compacted();
  const DWORD table = WordAt(b, 28);
  ASSERT_EQ(table + 24, b.size());  // three entries at the end
  std::string d = b;
  // The entry of some slot gets another hash.
  const DWORD slot = WordAt(d, table);
  PutWord(d, table + 4, WordAt(d, table + 4) ^ 0x100);
  ExpectFinding(d, slot, "hashes to");
  d = b;
  PutWord(d, table, 1);  // the first entry names slot 1 as well
  ExpectFinding(d, 1, "2 name table entries");
  d = b;
  PutWord(d, table + 16, 7);  // beyond the slot count
  ExpectFinding(d, CFileServer::kNoItem, "beyond the slot count");
  d = b;
  std::swap(d[table + 4], d[table + 12]);  // out of order (the hashes differ in their low byte)
  std::swap(d[table + 5], d[table + 13]);
  std::swap(d[table + 6], d[table + 14]);
  std::swap(d[table + 7], d[table + 15]);
  ExpectFinding(d, CFileServer::kNoItem, "out of order");
  d = b;
  PutWord(d, 28, 0);
  ExpectFinding(d, CFileServer::kNoItem, "no name table");
  d = b;
  PutWord(d, 28, static_cast<DWORD>(b.size() - 8));  // runs past the end
  ExpectFinding(d, CFileServer::kNoItem, "past the end");
}

// A zeroed first sector: slot count, table offset and the first slot words
// all 0 would read as a base without items.
TEST_F(VerifyTest, HeaderZeroedWithTheFirstSlotWords) {
  for (std::string b : {Compacted(), Chained()}) {
    std::fill(b.begin(), b.begin() + 64, '\0');
    ExpectFinding(b, CFileServer::kNoItem, "its header looks lost");
  }
}

TEST_F(VerifyTest, ReservedHeaderBytes) {
  std::string b = Compacted();
  PutWord(b, 32, 1);
  ExpectFinding(b, CFileServer::kNoItem, "bytes 32-35");
  b = Compacted();
  PutWord(b, 36, 1);
  ExpectFinding(b, CFileServer::kNoItem, "bytes 36-39");
}

TEST_F(VerifyTest, DamagedStreamIsFoundOnlyWhenContentsAreRead) {
  std::string b = Compacted();
  const DWORD record = WordAt(b, 40);
  b[record + 8 + 12 + 20] ^= 0x55;
  Write(b);
  EXPECT_TRUE(VerifyFile(false).Sound());
  ExpectFinding(b, 0, "damaged");
}

TEST_F(VerifyTest, InterruptedWriteIsReportedUntilAWriterRepairsIt) {
  Chained();
  std::string b = ReadWholeFile(path);
  PutWord(b, 32, ContainerHeader::kWriteMark);
  PutWord(b, 28, 0);
  ExpectFinding(b, CFileServer::kNoItem, "did not finish");
  {
    CFileServer writer(path.c_str(), nullptr, CFile::modeReadWrite);
    EXPECT_TRUE(writer.FoundInterruptedWrite());
    EXPECT_TRUE(writer.Verify(true).Sound()) << Describe(writer.Verify(true));
  }
  EXPECT_TRUE(VerifyFile().Sound()) << Describe(VerifyFile());
}

}  // namespace
}  // namespace kasten_test
