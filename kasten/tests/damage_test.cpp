// Damaged containers: every slot of a container damaged at many places is
// read; each read gives an item, no item or an exception, and never reads
// outside the file (the sanitizer build checks that), loops or allocates
// without bound.
#include <random>
#include <string>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

// Reads everything a reader can reach; returns how many items were readable.
int ReadEverything(const std::string& path) {
  CFileServer fs;
  if (!fs.Init(path.c_str(), nullptr, CFile::modeRead)) return -1;
  int readable = 0;
  for (DWORD i = 0; i < fs.GetSize() && i < 10000; ++i) {
    try {
      CMemFile dst;
      if (_FILEITEM* item = fs.GetFile(i, dst, 0, FALSE)) {
        ++readable;
        fs.GetItemIndex(item->szName);
        CFileServer::FreeFileItem(item);
      }
      CMemFile part;
      CFileServer::FreeFileItem(fs.GetFile(i, part, 60, TRUE));
      fs.GetFileSize(i);
      fs.GetFileCompSize(i);
      CFileServer::ItemInfo info;
      fs.GetItemInfo(i, info);
    } catch (const CException&) {
      // a damaged item may raise; the next one is still read
    }
  }
  fs.GetItemIndex("A0.HTM");
  return readable;
}

class DamageTest : public ContainerTest {
 protected:
  void Build(bool compacted) {
    DeleteFileAt(path);
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (int i = 0; i < 12; ++i) {
      std::string text;
      for (int k = 0; k < 20 + i * 5; ++k) text += "Art. " + std::to_string(k) + ". ";
      Insert(fs, i % 5 == 4 ? 1 : fs.GetSize(), "A" + std::to_string(i) + ".HTM", text, i % 3);
    }
    fs.RemoveFile(3);
    if (compacted) fs.Compact();
  }
  void Write(const std::string& bytes) {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  }
};

TEST_F(DamageTest, OverwrittenWordsAtEveryOffset) {
  for (bool compacted : {false, true}) {
    Build(compacted);
    const std::string original = ReadWholeFile(path);
    ASSERT_EQ(ReadEverything(path), 11);
    const DWORD values[] = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 40, static_cast<DWORD>(original.size()),
                            static_cast<DWORD>(original.size() - 3)};
    for (std::size_t at = 0; at + 4 <= original.size(); at += (at < 200 ? 1 : 7)) {
      for (DWORD v : values) {
        std::string bytes = original;
        std::memcpy(&bytes[at], &v, 4);
        Write(bytes);
        ReadEverything(path);
        if (HasFailure()) return;
      }
    }
  }
}

TEST_F(DamageTest, TruncatedAtEveryLength) {
  Build(false);
  const std::string original = ReadWholeFile(path);
  for (std::size_t n = 0; n < original.size(); n += 3) {
    Write(original.substr(0, n));
    ReadEverything(path);
  }
}

TEST_F(DamageTest, RandomBytes) {
  Build(true);
  const std::string original = ReadWholeFile(path);
  std::mt19937 rng(42);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = original;
    for (int k = 0; k < 1 + round % 8; ++k)
      bytes[std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(rng)] = static_cast<char>(rng());
    Write(bytes);
    ReadEverything(path);
  }
}

TEST_F(DamageTest, ChainThatLoopsEndsTheWalk) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
    Add(fs, "C", "c");
  }
  std::string b = ReadWholeFile(path);
  // Slot 0's block is [slot][0][link]; point its link back at offset 40.
  DWORD forty = 40;
  std::memcpy(&b[48], &forty, 4);
  Write(b);
  CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_TRUE(fs.IsOpen());
  EXPECT_EQ(Contents(fs, 0), "a");
  // The loop would revisit slot 0's word and serve "a" for every later slot;
  // the walk ends instead, and the slots it cannot reach hold no item.
  EXPECT_EQ(Contents(fs, 1), "<none>");
  EXPECT_EQ(Contents(fs, 2), "<none>");
}

TEST_F(DamageTest, HugeContentsLengthIsNotAllocated) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", std::string(100, 'x'), 1);
    Add(fs, "B", "stored", 0);
  }
  std::string b = ReadWholeFile(path);
  for (DWORD slot : {0u, 1u}) {
    std::string bytes = b;
    DWORD record = slot == 0 ? WordAt(b, 40) : 0;
    if (slot == 1) {
      DWORD link = WordAt(b, 48);
      record = WordAt(b, link);
    }
    DWORD descriptor = static_cast<unsigned char>(b[record]);
    DWORD huge = 0xF0000000;
    std::memcpy(&bytes[record + descriptor + 4], &huge, 4);
    Write(bytes);
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    EXPECT_EQ(Contents(fs, slot), "<none>");
    EXPECT_EQ(Contents(fs, 1 - slot), slot == 0 ? "stored" : std::string(100, 'x'));
  }
}

TEST_F(DamageTest, DamagedHeaderFailsAtOnce) {
  Build(true);
  std::string b = ReadWholeFile(path);
  std::string bad = b;
  DWORD many = 0x10000000;
  std::memcpy(&bad[0], &many, 4);  // more slots than the file can hold
  Write(bad);
  auto start = std::chrono::steady_clock::now();
  CFileServer fs;
  EXPECT_FALSE(fs.Init(path.c_str(), nullptr, CFile::modeRead));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  bad = b;
  DWORD far = static_cast<DWORD>(b.size() + 100);
  std::memcpy(&bad[28], &far, 4);  // table beyond the end
  Write(bad);
  EXPECT_FALSE(fs.Init(path.c_str(), nullptr, CFile::modeRead));
  Write(b.substr(0, 20));
  EXPECT_FALSE(fs.Init(path.c_str(), nullptr, CFile::modeRead));
}

}  // namespace
}  // namespace kasten_test
