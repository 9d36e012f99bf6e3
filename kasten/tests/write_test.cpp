// Writing items: insertion before an occupied slot, growth, replacement,
// removal, the hooks a derived class sees, and the places where the
// hash table could collide with appended data.
#include <strings.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

// Records the hooks in the order the store calls them, and what the
// container looked like at that moment.
class HookRecorder : public CFileServer {
 public:
  using CFileServer::CFileServer;
  std::vector<std::string> calls;

 protected:
  void OnInsert(DWORD i) override { calls.push_back("insert " + std::to_string(i) + " size " + std::to_string(GetSize())); }
  void OnRemove(DWORD i) override { calls.push_back("remove " + std::to_string(i)); }
  void OnDelete(DWORD i) override { calls.push_back("delete " + std::to_string(i)); }
};

TEST_F(ContainerTest, InsertBeforeAnItemShiftsTheRestUp) {
  HookRecorder fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  for (int i = 0; i < 4; ++i) Add(fs, "I" + std::to_string(i), "item" + std::to_string(i));
  DWORD lengthBefore = static_cast<DWORD>(ReadWholeFile(path).size());
  EXPECT_EQ(Insert(fs, 1, "NEW", "new"), 1u);
  EXPECT_EQ(fs.GetSize(), 5u);
  EXPECT_EQ(fs.calls, (std::vector<std::string>{"insert 1 size 5"}));
  std::vector<std::string> want = {"item0", "new", "item1", "item2", "item3"};
  for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(Contents(fs, i), want[i]) << i;
  EXPECT_EQ(fs.GetItemIndex("I1"), 2u);
  EXPECT_EQ(fs.GetItemIndex("I3"), 4u);
  EXPECT_EQ(fs.GetItemIndex("NEW"), 1u);
  EXPECT_GT(ReadWholeFile(path).size(), lengthBefore);  // a new block at the end
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(Contents(ro, i), want[i]) << i;
  EXPECT_EQ(ro.GetItemIndex("I3"), 4u);
}

TEST_F(ContainerTest, InsertAtTheFirstAndLastOccupiedSlots) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  Add(fs, "B", "b");
  Insert(fs, 0, "Z", "z");  // before the first
  Insert(fs, 2, "Y", "y");  // before the last
  Insert(fs, 2, "X", "x");  // again in the block just split
  std::vector<std::string> want = {"z", "a", "x", "y", "b"};
  for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(Contents(fs, i), want[i]) << i;
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(Contents(ro, i), want[i]) << i;
  for (auto [name, index] : std::vector<std::pair<const char*, DWORD>>{{"Z", 0}, {"A", 1}, {"X", 2}, {"Y", 3}, {"B", 4}})
    EXPECT_EQ(ro.GetItemIndex(name), index) << name;
}

TEST_F(ContainerTest, InsertBeyondTheEndLeavesEmptySlots) {
  HookRecorder fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  for (int i = 0; i < 3; ++i) Add(fs, "I" + std::to_string(i), "x");
  EXPECT_EQ(Insert(fs, 5, "F", "five"), 5u);
  EXPECT_EQ(fs.GetSize(), 6u);
  EXPECT_EQ(NameAt(fs, 3), "<none>");
  EXPECT_EQ(NameAt(fs, 4), "<none>");
  EXPECT_EQ(Contents(fs, 5), "five");
  EXPECT_TRUE(fs.calls.empty());  // filling a free slot calls no hook
}

TEST_F(ContainerTest, ReplaceKeepsTheIndexAndRenamesIt) {
  HookRecorder fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  Add(fs, "B", "b");
  EXPECT_EQ(Replace(fs, 0, "C", "c-new"), 0u);
  EXPECT_EQ(fs.calls, (std::vector<std::string>{"remove 0"}));
  EXPECT_EQ(fs.GetSize(), 2u);
  EXPECT_EQ(Contents(fs, 0), "c-new");
  EXPECT_EQ(fs.GetItemIndex("C"), 0u);
  EXPECT_EQ(fs.GetItemIndex("A"), CFileServer::kNoItem);
  fs.Close();
  // The table kept its size: one entry per slot.
  std::string b = ReadWholeFile(path);
  EXPECT_EQ(b.size() - WordAt(b, 28), 16u);
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(ro.GetItemIndex("C"), 0u);
  EXPECT_EQ(Contents(ro, 1), "b");
}

TEST_F(ContainerTest, RemoveMarksTheSlotAndCallsTheHook) {
  HookRecorder fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  fs.RemoveFile(0);
  fs.RemoveFile(7);  // out of range: nothing
  EXPECT_EQ(fs.calls, (std::vector<std::string>{"remove 0"}));
  EXPECT_EQ(Contents(fs, 0), "<none>");
}

TEST_F(ContainerTest, SetSizeToTheCurrentCountWritesNothing) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  std::string before = ReadWholeFile(path);
  EXPECT_EQ(fs.SetSize(1, TRUE), 1u);
  EXPECT_EQ(ReadWholeFile(path), before);
}

// Adding an item stores its slot and its record at the end of the file
// together; the bytes left are those of growing the table by one slot and
// then filling it, written one after the other: for a first item (the table
// grows in place), small items, an item too large to be joined with its
// slot in one write, an empty one, and a base reopened for writing.
TEST_F(ContainerTest, AddingLeavesTheBytesOfGrowingTheTableThenFillingTheSlot) {
  const std::string grown = dir + "/grown.dat";
  struct Piece {
    std::string text;
    DWORD method;
  };
  const std::vector<Piece> pieces = {
      {"a", 1}, {"kodeks pracy", 1}, {std::string(300000, 'x') + "y", 0}, {"", 1}, {"sąd", 0}, {"z", 2}};
  auto fill = [&](const std::string& file, bool add) {
    for (int round = 0; round < 2; ++round) {
      CFileServer fs(file.c_str(), round == 0 ? &kGuid : nullptr, CFile::modeReadWrite);
      ASSERT_TRUE(fs.IsOpen());
      for (std::size_t k = 0; k < pieces.size(); ++k) {
        const std::string name = "item" + std::to_string(round) + std::to_string(k);
        const DWORD n = fs.GetSize();
        if (add) {
          ASSERT_EQ(Add(fs, name, pieces[k].text, pieces[k].method), n);
        } else {
          ASSERT_EQ(fs.SetSize(n + 1, TRUE), n + 1);
          ASSERT_EQ(Replace(fs, n, name, pieces[k].text, pieces[k].method), n);
        }
      }
    }
  };
  fill(path, true);
  fill(grown, false);
  const std::string added = ReadWholeFile(path);
  EXPECT_GT(added.size(), 300000u);
  EXPECT_TRUE(added == ReadWholeFile(grown)) << "the files differ";
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_EQ(ro.GetSize(), 2 * pieces.size());
  for (std::size_t k = 0; k < pieces.size(); ++k) EXPECT_EQ(Contents(ro, pieces.size() + k), pieces[k].text);
  std::string command;
  EXPECT_EQ(RunIndependentReader(path, dir, &command), 0) << command;
}

TEST_F(ContainerTest, GrowingWithoutInsertingThenClosingLeavesASoundFile) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    fs.SetSize(4, TRUE);
  }
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_TRUE(ro.IsOpen());
  EXPECT_EQ(ro.GetSize(), 4u);
  EXPECT_EQ(Contents(ro, 0), "a");
  for (DWORD i = 1; i < 4; ++i) EXPECT_EQ(Contents(ro, i), "<none>");
  EXPECT_EQ(ro.GetItemIndex("A"), 0u);
  // The table on disk has exactly slot-count entries; the padding names no slot.
  std::string b = ReadWholeFile(path);
  EXPECT_EQ(b.size() - WordAt(b, 28), 4u * 8);
}

TEST_F(ContainerTest, RefillingAFreeSlotNeverPutsAnItemWhereTheTableGoes) {
  // Append (the table's pending place moves to the end), then fill a free
  // slot: its record is appended exactly where the table would be written.
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "alpha");
    fs.SetSize(3, TRUE);
    Insert(fs, 1, "B", "bravo");
    Insert(fs, 2, "C", "charlie");
    Replace(fs, 0, "D", "delta");
  }
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(Contents(ro, 0), "delta");
  EXPECT_EQ(Contents(ro, 1), "bravo");
  EXPECT_EQ(Contents(ro, 2), "charlie");
  EXPECT_EQ(ro.GetItemIndex("C"), 2u);
  EXPECT_EQ(ro.GetItemIndex("D"), 0u);
}

TEST_F(ContainerTest, ReopenedForWritingAndGrownTheTableMovesBehindNewBlocks) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "a");
    Add(fs, "B", "b");
  }
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    fs.SetSize(10, TRUE);      // a new slot block goes where the old table lay
    Insert(fs, 6, "C", "c");   // and a free slot is filled
    fs.RemoveFile(1);
  }
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(ro.GetSize(), 10u);
  EXPECT_EQ(Contents(ro, 0), "a");
  EXPECT_EQ(Contents(ro, 1), "<none>");
  EXPECT_EQ(Contents(ro, 6), "c");
  EXPECT_EQ(ro.GetItemIndex("C"), 6u);
}

TEST_F(ContainerTest, TableThatHasNotGrownStaysInItsPlace) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "A", "alpha");
    Add(fs, "B", "bravo");
  }
  const std::string before = ReadWholeFile(path);
  const DWORD table = WordAt(before, 28);
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);  // opened and closed unchanged
  }
  EXPECT_EQ(ReadWholeFile(path), before);
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    Replace(fs, 1, "C", "charlie");  // the record goes behind the table, which keeps its size
  }
  std::string after = ReadWholeFile(path);
  EXPECT_EQ(WordAt(after, 28), table);
  EXPECT_GT(after.size(), before.size());
  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    Add(fs, "D", "delta");  // one more slot: the table grows and moves behind everything
  }
  after = ReadWholeFile(path);
  EXPECT_GT(WordAt(after, 28), table);
  EXPECT_EQ(after.size() - WordAt(after, 28), 3u * 8);
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(Contents(ro, 0), "alpha");
  EXPECT_EQ(Contents(ro, 1), "charlie");
  EXPECT_EQ(Contents(ro, 2), "delta");
  EXPECT_EQ(ro.GetItemIndex("C"), 1u);
  EXPECT_EQ(ro.GetItemIndex("D"), 2u);
  EXPECT_EQ(ro.GetItemIndex("B"), CFileServer::kNoItem);
}

TEST_F(ContainerTest, ShrinkThenGrowNeverRevivesOldSlots) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  for (int i = 0; i < 5; ++i) Add(fs, "I" + std::to_string(i), "v" + std::to_string(i));
  fs.SetSize(2, TRUE);
  EXPECT_EQ(fs.GetItemIndex("I4"), CFileServer::kNoItem);
  fs.SetSize(4, TRUE);
  EXPECT_EQ(Contents(fs, 1), "v1");
  EXPECT_EQ(Contents(fs, 2), "<none>");
  EXPECT_EQ(Contents(fs, 3), "<none>");
  Add(fs, "N", "new");
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_EQ(ro.GetSize(), 5u);
  EXPECT_EQ(Contents(ro, 2), "<none>");
  EXPECT_EQ(Contents(ro, 4), "new");
  EXPECT_EQ(ro.GetItemIndex("I3"), CFileServer::kNoItem);
  EXPECT_EQ(ro.GetItemIndex("N"), 4u);
}

TEST_F(ContainerTest, ShrinkToZeroThenGrowKeepsOtherDataIntact) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  ASSERT_TRUE(fs.Compact());
  fs.SetSize(0, TRUE);
  fs.SetSize(3, TRUE);
  Add(fs, "B", "bee");
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  ASSERT_EQ(ro.GetSize(), 4u);
  EXPECT_EQ(Contents(ro, 3), "bee");
  EXPECT_EQ(ro.GetItemIndex("B"), 3u);
}

TEST_F(ContainerTest, FailingSourceLeavesTheContainerAsItWas) {
  // A source whose read fails: nothing of it reaches the container, and a
  // replacement keeps the old item.
  struct FailingFile : CMemFile {
    UINT Read(void*, UINT) override { throw CFileException(CFileException::hardIO, EIO); }
  };
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A", "a");
  std::string before = ReadWholeFile(path);
  FailingFile bad;
  Item item("B");
  EXPECT_THROW(fs.AddFile(bad, item.p, 1), CFileException);
  EXPECT_THROW(fs.ReplaceFile(bad, item.p, 0, 0), CFileException);
  EXPECT_EQ(ReadWholeFile(path), before);
  EXPECT_EQ(Contents(fs, 0), "a");
  EXPECT_EQ(fs.GetSize(), 1u);
}

TEST_F(ContainerTest, DescriptorCallerDataIsKept) {
  _FILEITEM* item = MakeFileItem("SYS", kSystemItemSize);
  ASSERT_NE(item, nullptr);
  std::memcpy(reinterpret_cast<char*>(item) + 262, "\x01\x02\x03", 3);
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  CMemFile src = Source("data");
  fs.AddFile(src, item, 2);
  CFileServer::FreeFileItem(item);
  _FILEITEM* back = fs.GetItem(0u);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->wSize, kSystemItemSize);
  EXPECT_EQ(std::memcmp(reinterpret_cast<char*>(back) + 262, "\x01\x02\x03", 3), 0);
  CFileServer::FreeFileItem(back);
  // A descriptor whose name is not terminated within its length is refused.
  _FILEITEM* bad = MakeFileItem("AB");
  bad->wSize = 3;  // "A" without its NUL
  CMemFile src2 = Source("x");
  EXPECT_EQ(fs.AddFile(src2, bad, 0), CFileServer::kNoItem);
  CFileServer::FreeFileItem(bad);
}


TEST_F(ContainerTest, ItemsWrittenOneAfterAnotherKeepTheirOwnBytes) {
  // The record of an item is built in a buffer the thread keeps from item to
  // item: a large item followed by small ones, replacements, both methods,
  // and a write nested in another (a source that, while it is read, has an
  // item added to a second container) each keep exactly their own bytes.
  auto text = [](std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (char& c : s) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 16);  // little repetition: compresses poorly
    }
    return s;
  };
  struct NestingSource : CMemFile {
    CFileServer* other = nullptr;
    std::string otherText;
    bool nested = false;
    UINT Read(void* buffer, UINT count) override {
      if (!nested) {
        nested = true;
        EXPECT_EQ(Add(*other, "INNER", otherText), 0u);
      }
      return CMemFile::Read(buffer, count);
    }
  };
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  CFileServer second((dir + "/second.dat").c_str(), &kGuid, CFile::modeReadWrite);
  std::vector<std::string> expected;
  const std::size_t sizes[] = {5u << 20, 10, 300000, 1, 70000, 0, 4096};
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    expected.push_back(text(sizes[i], static_cast<unsigned>(i)));
    ASSERT_EQ(Add(fs, "I" + std::to_string(i), expected.back(), i % 2), i);
  }
  expected[0] = "short now";
  ASSERT_EQ(Replace(fs, 0, "I0", expected[0]), 0u);
  expected[2] = text(6u << 20, 99);
  ASSERT_EQ(Replace(fs, 2, "I2", expected[2], 0), 2u);

  NestingSource outer;
  const std::string outerText = text(200000, 7);
  outer.Write(outerText.data(), static_cast<UINT>(outerText.size()));
  outer.SeekToBegin();
  outer.other = &second;
  outer.otherText = text(150000, 8);
  Item item("OUTER");
  ASSERT_EQ(fs.AddFile(outer, item.p, 1), std::size(sizes));
  expected.push_back(outerText);
  ASSERT_TRUE(outer.nested);

  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(Contents(fs, i) == expected[i]) << "slot " << i;
  EXPECT_TRUE(Contents(second, 0) == outer.otherText);
  EXPECT_EQ(Add(fs, "LAST", "z"), expected.size());
  EXPECT_EQ(Contents(fs, expected.size()), "z");
}

// Where the slot words lie, walked in the file's bytes as the format
// describes the chain: from offset 40, a word that is not 0 is a slot, a 0
// is an end-of-block marker whose next word links on (0: the end).
std::vector<DWORD> SlotWordOffsets(const std::string& bytes) {
  std::vector<DWORD> slots;
  std::size_t at = 40;
  // A chain that loops is damage; no walk takes more steps than the file has words.
  for (std::size_t steps = 0; at + 4 <= bytes.size() && steps <= bytes.size() / 4; ++steps) {
    if (WordAt(bytes, at) != 0) {
      slots.push_back(static_cast<DWORD>(at));
      at += 4;
      continue;
    }
    const DWORD link = at + 8 <= bytes.size() ? WordAt(bytes, at + 4) : 0;
    if (link == 0) break;
    at = link;
  }
  return slots;
}

// An added item's slot goes right behind the last one when the words there
// are free (0, or past the end of the file) and into a block at the end of
// the file otherwise. A writer that appended the last slot itself knows
// there is no room without reading; whatever it did since (growing and
// shrinking the table, emptying, replacing and inserting items, compacting)
// must not leave it believing that of room that is free. The place is
// worked out before each addition from the file's bytes alone.
TEST_F(ContainerTest, AnAddedSlotGoesBehindTheLastExactlyWhenTheWordsThereAreFree) {
  std::mt19937 rng(20261210);
  auto pick = [&](DWORD n) { return std::uniform_int_distribution<DWORD>(0, n - 1)(rng); };
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  int serial = 0, inPlace = 0, atTheEnd = 0;
  for (int step = 0; step < 600; ++step) {
    const DWORD op = pick(100), size = fs.GetSize();
    if (op < 55 || size == 0) {
      const std::string before = ReadWholeFile(path);
      const std::vector<DWORD> slots = SlotWordOffsets(before);
      ASSERT_EQ(slots.size(), size) << "step " << step;
      const std::size_t tail = slots.empty() ? 40 : slots.back() + 4;
      // Room for one more slot: the slot, a marker and a link. Words past
      // the end of the file are free; one cut by the end is not.
      const std::size_t inFile = tail >= before.size() ? 0 : std::min<std::size_t>(12, before.size() - tail);
      bool free = inFile % 4 == 0;
      for (std::size_t w = tail; w + 4 <= tail + inFile; w += 4) free = free && WordAt(before, w) == 0;
      const std::string text(pick(40), static_cast<char>('a' + step % 26));
      ASSERT_EQ(Add(fs, "S" + std::to_string(++serial), text, pick(2)), size);
      const std::vector<DWORD> after = SlotWordOffsets(ReadWholeFile(path));
      ASSERT_EQ(after.size(), size + 1u) << "step " << step;
      if (free) {
        EXPECT_EQ(after.back(), tail) << "step " << step << ": the table had room behind its last slot";
        ++inPlace;
      } else {
        EXPECT_EQ(after.back(), before.size()) << "step " << step << ": no room, so a block at the end";
        ++atTheEnd;
      }
    } else if (op < 65) {
      fs.SetSize(size + 1 + pick(3), TRUE);
    } else if (op < 72) {
      fs.SetSize(pick(size + 1), TRUE);
    } else if (op < 80) {
      fs.RemoveFile(pick(size));
    } else if (op < 88) {
      const DWORD at = pick(size);
      ASSERT_EQ(Replace(fs, at, "R" + std::to_string(++serial), "r"), at);
    } else if (op < 96) {
      const DWORD at = pick(size + 2);
      ASSERT_EQ(Insert(fs, at, "N" + std::to_string(++serial), "n"), at);
    } else {
      ASSERT_TRUE(fs.Compact());
    }
    if (HasFatalFailure()) return;
  }
  // Both kinds of addition were met often enough to mean something.
  EXPECT_GT(inPlace, 20);
  EXPECT_GT(atTheEnd, 100);
  fs.Close();
  std::string command;
  EXPECT_EQ(RunIndependentReader(path, dir, &command), 0) << command;
}

// Documents added one by one have their names found at once, and the name
// table written at the close is byte for byte the one that the general path
// (growing the table, then filling the new slot, which sorts each name in
// as it comes) leaves. Many names share their last component in different
// folders, so that many entries share a hash; some names differ only in
// case. Lookups between the additions, by last component and by whole path,
// come at irregular moments.
TEST_F(ContainerTest, NamesAddedOneByOneAreFoundAndTabledAsIfSortedInEachTime) {
  const std::string grown = dir + "/grown.dat";
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) {
    const std::string leaf = i % 3 == 0 ? "USTAWA" + std::to_string(i % 7) + ".HTM" : "D" + std::to_string(i) + ".HTM";
    names.push_back((i % 2 ? "DZU\\" : "MP\\") + std::to_string(i % 11) + "\\" + (i % 5 == 4 ? "u" + leaf.substr(1) : leaf));
  }
  auto fill = [&](const std::string& file, bool add) {
    CFileServer fs(file.c_str(), &kGuid, CFile::modeReadWrite);
    ASSERT_TRUE(fs.IsOpen());
    for (std::size_t k = 0; k < names.size(); ++k) {
      const DWORD n = fs.GetSize();
      if (add) {
        ASSERT_EQ(Add(fs, names[k], "t" + std::to_string(k)), n);
      } else {
        ASSERT_EQ(fs.SetSize(n + 1, TRUE), n + 1);
        ASSERT_EQ(Replace(fs, n, names[k], "t" + std::to_string(k)), n);
      }
      if (k % 37 == 5 || k % 53 == 0) {
        // The whole path names exactly one item; the first found by its
        // last component carries that component.
        ASSERT_EQ(fs.GetItemIndex(names[k].c_str()), k) << names[k];
        const std::size_t back = k / 2;
        ASSERT_EQ(fs.GetItemIndex(names[back].c_str()), back) << names[back];
        const std::string leaf = names[back].substr(names[back].rfind('\\') + 1);
        const DWORD found = fs.GetItemIndex(leaf.c_str());
        ASSERT_NE(found, CFileServer::kNoItem) << leaf;
        const std::string foundName = NameAt(fs, found);
        EXPECT_TRUE(strcasecmp(foundName.substr(foundName.rfind('\\') + 1).c_str(), leaf.c_str()) == 0) << foundName;
      }
    }
  };
  fill(path, true);
  fill(grown, false);
  EXPECT_TRUE(ReadWholeFile(path) == ReadWholeFile(grown)) << "the files differ";
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  for (std::size_t k = 0; k < names.size(); ++k) EXPECT_EQ(ro.GetItemIndex(names[k].c_str()), k) << names[k];
}

}  // namespace
}  // namespace kasten_test
