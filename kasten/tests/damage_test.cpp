// Damaged containers: every slot of a container damaged at many places is
// read. A read gives an item as it was written (a damaged slot word may lead
// to another record, even one removed since, whose bytes are still there),
// no item or an exception: never other contents (but for the bytes of an
// item kept stored, which carry no checksum), never a read outside the file (the sanitizer build
// checks that), no loop, no unbounded allocation. Damage inside one item's
// stored bytes leaves every other item readable by slot and by name.
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

// One slot as a reader gets it.
struct Got {
  std::string name, text;
};
using Reading = std::vector<std::optional<Got>>;

// Reads every slot (each also as a prefix, by its size and by name, so that
// every reading path runs on the damage); nullopt for a slot that gives no
// item or raises. Empty when the container does not open.
Reading ReadEverything(const std::string& path, std::map<std::string, DWORD>* lookups = nullptr,
                       const std::vector<std::string>& names = {}) {
  Reading r;
  CFileServer fs;
  if (!fs.Init(path.c_str(), nullptr, CFile::modeRead)) return r;
  for (DWORD i = 0; i < fs.GetSize() && i < 10000; ++i) {
    r.emplace_back();
    try {
      CMemFile dst;
      if (_FILEITEM* item = fs.GetFile(i, dst, 0, FALSE)) {
        r.back() = Got{item->szName, std::string(reinterpret_cast<const char*>(dst.GetBuffer()),
                                                 static_cast<std::size_t>(dst.GetLength()))};
        CFileServer::FreeFileItem(item);
      }
    } catch (const CException&) {
      // a damaged item may raise; the next one is still read
    }
    try {
      CMemFile part;
      CFileServer::FreeFileItem(fs.GetFile(i, part, 60, TRUE));
      fs.GetFileSize(i);
      fs.GetFileCompSize(i);
      CFileServer::ItemInfo info;
      fs.GetItemInfo(i, info);
    } catch (const CException&) {
    }
  }
  for (const auto& n : names) {
    DWORD found = fs.GetItemIndex(n.c_str());
    if (lookups) (*lookups)[n] = found;
  }
  return r;
}

class DamageTest : public ContainerTest {
 protected:
  // Twelve items in all three methods, two inserted before others, one
  // removed: eleven items, chained (or compacted).
  void Build(bool compacted) {
    DeleteFileAt(path);
    written.clear();
    {
      CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
      for (int i = 0; i < 12; ++i) {
        std::string text;
        for (int k = 0; k < 20 + i * 5; ++k) text += "Art. " + std::to_string(k) + ". ";
        Insert(fs, i % 5 == 4 ? 1 : fs.GetSize(), "A" + std::to_string(i) + ".HTM", text, i % 3);
        written.push_back(text);
      }
      fs.RemoveFile(3);
      if (compacted) fs.Compact();
    }
    // What the undamaged container holds, and where each item's bytes lie.
    original = ReadWholeFile(path);
    items.clear();
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    slots = fs.GetSize();
    for (DWORD i = 0; i < fs.GetSize(); ++i) {
      CFileServer::ItemInfo info;
      if (!fs.GetItemInfo(i, info)) continue;
      Item item;
      item.slot = i;
      item.name = info.name;
      item.text = Contents(fs, i);
      item.stored = info.method == 0;
      const DWORD descriptor = static_cast<unsigned char>(original[info.recordOffset]) |
                               static_cast<unsigned char>(original[info.recordOffset + 1]) << 8;
      item.dataStart = info.recordOffset + descriptor + 12;
      item.dataEnd = item.dataStart + info.storedLength;
      items.push_back(item);
    }
    ASSERT_EQ(items.size(), 11u);
  }
  void Write(const std::string& bytes) {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> n;
    for (const auto& i : items) n.push_back(i.name);
    return n;
  }

  // Every item read must be one as written, unless damage [from, to) lies in
  // the stored bytes of an item kept stored: that item may read changed.
  void ExpectNothingChanged(const Reading& r, ULONGLONG from, ULONGLONG to, const std::string& what) {
    for (std::size_t slot = 0; slot < r.size(); ++slot) {
      if (!r[slot]) continue;
      bool known = false;
      for (const auto& text : written) known = known || text == r[slot]->text;
      if (known) continue;
      bool excused = false;
      for (const auto& item : items)
        excused = excused || (item.stored && from < item.dataEnd && to > item.dataStart);
      EXPECT_TRUE(excused) << what << ": slot " << slot << " (" << r[slot]->name << ") reads contents never written: "
                           << r[slot]->text.substr(0, 80) << " (" << r[slot]->text.size() << " bytes)";
    }
  }

  struct Item {
    DWORD slot;
    std::string name, text;
    bool stored;
    DWORD dataStart, dataEnd;  // the stored bytes
  };
  std::string original;
  std::size_t slots = 0;
  std::vector<Item> items;            // as the undamaged container holds them
  std::vector<std::string> written;  // every contents ever stored, removed ones too
};

TEST_F(DamageTest, OverwrittenWordsAtEveryOffset) {
  for (bool compacted : {false, true}) {
    Build(compacted);
    const DWORD values[] = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 40, static_cast<DWORD>(original.size()),
                            static_cast<DWORD>(original.size() - 3)};
    int insideOneItem = 0;
    for (std::size_t at = 0; at + 4 <= original.size(); at += (at < 200 ? 1 : 7)) {
      for (DWORD v : values) {
        std::string bytes = original;
        std::memcpy(&bytes[at], &v, 4);
        if (bytes == original) continue;
        Write(bytes);
        std::map<std::string, DWORD> found;
        const Reading r = ReadEverything(path, &found, Names());
        const std::string what = "word " + std::to_string(v) + " at " + std::to_string(at) + (compacted ? " (compacted)" : "");
        ExpectNothingChanged(r, at, at + 4, what);
        // Inside one item's stored bytes: every other item reads as written,
        // by slot and by name.
        for (const auto& hit : items) {
          if (at < hit.dataStart || at + 4 > hit.dataEnd) continue;
          ++insideOneItem;
          ASSERT_EQ(r.size(), slots) << what;
          for (const auto& other : items) {
            if (other.slot == hit.slot) continue;
            ASSERT_TRUE(r[other.slot].has_value()) << what << ": " << other.name << " no longer reads";
            EXPECT_EQ(r[other.slot]->text, other.text) << what;
            EXPECT_EQ(found[other.name], other.slot) << what;
          }
        }
        if (HasFailure()) return;
      }
    }
    EXPECT_GT(insideOneItem, 500);
  }
}

TEST_F(DamageTest, TruncatedAtEveryLength) {
  for (bool compacted : {false, true}) {
    Build(compacted);
    const DWORD table = WordAt(original, 28);
    int opened = 0;
    for (std::size_t n = 0; n < original.size(); n += 3) {
      Write(original.substr(0, n));
      const Reading r = ReadEverything(path);
      const std::string what = "cut to " + std::to_string(n) + (compacted ? " (compacted)" : "");
      ExpectNothingChanged(r, n, original.size(), what);
      opened += !r.empty();
      // Cut inside the table at the end: every item is still there by slot.
      if (n >= table) {
        ASSERT_EQ(r.size(), slots) << what;
        for (const auto& item : items) {
          ASSERT_TRUE(r[item.slot].has_value()) << what << ": " << item.name;
          EXPECT_EQ(r[item.slot]->text, item.text) << what;
        }
      }
    }
    EXPECT_GT(opened, 0);
  }
}

TEST_F(DamageTest, RandomBytes) {
  Build(true);
  std::mt19937 rng(42);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = original;
    ULONGLONG low = bytes.size(), high = 0;
    for (int k = 0; k < 1 + round % 8; ++k) {
      const std::size_t at = std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(rng);
      bytes[at] = static_cast<char>(rng());
      low = std::min<ULONGLONG>(low, at);
      high = std::max<ULONGLONG>(high, at + 1);
    }
    Write(bytes);
    ExpectNothingChanged(ReadEverything(path), low, high, "round " + std::to_string(round));
    if (HasFailure()) return;
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
