// Reading items: lookups by name with colliding hashes, prefixes of
// contents, empty slots, and many readers at once.
#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

#include "container_fixture.h"

namespace kasten_test {
namespace {

// Two distinct names of the same length with the same hash, found by search.
std::pair<std::string, std::string> CollidingNames(const std::string& prefix) {
  std::unordered_map<DWORD, std::string> seen;
  for (unsigned i = 0;; ++i) {
    std::string name = prefix + std::to_string(i) + ".HTM";
    DWORD h = CFileServer::MakeHash(name.c_str());
    auto [it, inserted] = seen.emplace(h, name);
    if (!inserted && it->second.size() == name.size()) return {it->second, name};
  }
}

TEST_F(ContainerTest, HashFoundOnceIsTrustedWithoutComparingNames) {
  auto [a, b] = CollidingNames("N");
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, a, "first");
  // b has the same hash and is not stored: the single entry answers anyway.
  EXPECT_EQ(fs.GetItemIndex(b.c_str()), 0u);
}

TEST_F(ContainerTest, CollidingNamesAreToldApartByName) {
  auto [a, b] = CollidingNames("N");
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "other", "x");
  Add(fs, "DIR1\\" + a, "first");
  Add(fs, "DIR2\\" + b, "second");
  EXPECT_EQ(fs.GetItemIndex(a.c_str()), 1u);
  EXPECT_EQ(fs.GetItemIndex(b.c_str()), 2u);
  // With a path, only the last component is hashed but the whole path compared.
  EXPECT_EQ(fs.GetItemIndex(("DIR2\\" + b).c_str()), 2u);
  EXPECT_EQ(fs.GetItemIndex(("dir2\\" + b).c_str()), 2u);
  EXPECT_EQ(fs.GetItemIndex(("DIR1\\" + b).c_str()), CFileServer::kNoItem);
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(ro.GetItemIndex(b.c_str()), 2u);
}

TEST_F(ContainerTest, RemovedNameStillResolvesButHasNoItem) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A.HTM", "a");
  fs.RemoveFile(0);
  EXPECT_EQ(fs.GetItemIndex("A.HTM"), 0u);
  EXPECT_EQ(fs.GetItem("A.HTM"), nullptr);
  EXPECT_EQ(fs.GetSize(), 1u);
  EXPECT_EQ(fs.GetFileSize(0), 0u);
}

TEST_F(ContainerTest, UnknownNameAndOutOfRangeIndexGiveNothing) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "A.HTM", "a");
  EXPECT_EQ(fs.GetItemIndex("B.HTM"), CFileServer::kNoItem);
  EXPECT_EQ(fs.GetItem("B.HTM"), nullptr);
  EXPECT_EQ(fs.GetItem(CFileServer::kNoItem), nullptr);
  EXPECT_EQ(fs.GetItemIndex(nullptr), CFileServer::kNoItem);
  CMemFile dst;
  EXPECT_EQ(fs.GetFile("B.HTM", dst, 0, FALSE), nullptr);
}

TEST_F(ContainerTest, LimitReadsAPrefixOfTheStoredBytes) {
  std::string text(4000, 'a');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (i * 7 % 26));
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "S", text, 0);
  EXPECT_EQ(Contents(fs, 0, 150, TRUE), text);
  EXPECT_EQ(Contents(fs, 0, 50, TRUE), text.substr(0, 2000));
  EXPECT_EQ(Contents(fs, 0, 33, TRUE), text.substr(0, 1320));  // 4000 * 33 / 100
  EXPECT_EQ(Contents(fs, 0, 500, FALSE), text.substr(0, 500));
  EXPECT_EQ(Contents(fs, 0, 99999, FALSE), text);
}

TEST_F(ContainerTest, CompressedPrefixInflatesWhatTheStoredPrefixHolds) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "Art. " + std::to_string(i) + ". Ustawa o ochronie. ";
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "Z", text, 1);
  std::string prefix = Contents(fs, 0, 500, FALSE);
  ASSERT_GT(prefix.size(), 500u);  // the stored prefix inflates to more
  EXPECT_EQ(prefix, text.substr(0, prefix.size()));
  EXPECT_LT(fs.GetFileCompSize(0), fs.GetFileSize(0));
  EXPECT_EQ(fs.GetFileSize(0), text.size());
}

TEST_F(ContainerTest, WholeReadSizesTheDestinationAndLimitedReadDoesNot) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "S", "short", 0);
  CMemFile dst;
  std::string junk(100, 'j');
  dst.Write(junk.data(), 100);
  CFileServer::FreeFileItem(fs.GetFile(0u, dst, 0, FALSE));
  EXPECT_EQ(dst.GetLength(), 5u);
  dst.SetLength(0);
  dst.Write(junk.data(), 100);
  CFileServer::FreeFileItem(fs.GetFile(0u, dst, 3, FALSE));
  EXPECT_EQ(dst.GetLength(), 100u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dst.GetBuffer()), 4), "shoj");
}

TEST_F(ContainerTest, EmptySlotLeavesTheDestinationUntouched) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  fs.SetSize(2, TRUE);
  CMemFile dst;
  dst.Write("keep", 4);
  EXPECT_EQ(fs.GetFile(1, dst, 0, FALSE), nullptr);
  EXPECT_EQ(dst.GetLength(), 4u);
  EXPECT_EQ(dst.GetPosition(), 4u);
}

TEST_F(ContainerTest, EmptyContentsRoundTripBothMethods) {
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  Add(fs, "E0", "", 0);
  Add(fs, "E1", "", 1);
  Add(fs, "E2", "x", 2);
  fs.Close();
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(Contents(ro, 0), "");
  EXPECT_EQ(Contents(ro, 1), "");
  EXPECT_EQ(Contents(ro, 2), "x");
}

// The store shows no message of its own: the writer's result and the
// reader's missing item say it, verify says why.
TEST_F(ContainerTest, UnknownMethodIsRefused) {
  std::vector<std::string> messages;
  auto previous = SetMessageSink([&](const std::string& t, const std::string&) { messages.push_back(t); });
  CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
  EXPECT_EQ(Add(fs, "Q", "q", 7), CFileServer::kNoItem);
  EXPECT_EQ(fs.GetSize(), 0u);  // nothing written
  // A record that claims an unknown method cannot be read either.
  Add(fs, "R", "r", 0);
  fs.Close();
  {
    std::string b = ReadWholeFile(path);
    DWORD record = WordAt(b, 40);
    CFile f(path.c_str(), CFile::modeReadWrite);
    DWORD method = 9;
    f.Seek(record + 4, CFile::begin);  // descriptor "R\0" is 4 bytes
    f.Write(&method, 4);
  }
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  EXPECT_EQ(Contents(ro, 0), "<none>");
  CFileServer::ItemInfo info;
  ASSERT_TRUE(ro.GetItemInfo(0, info));
  EXPECT_FALSE(info.sound);
  const CFileServer::Report report = ro.Verify(true);
  ASSERT_EQ(report.findings.size(), 1u);
  EXPECT_EQ(report.findings[0].slot, 0u);
  EXPECT_EQ(report.findings[0].item, "R");
  EXPECT_EQ(report.findings[0].what, "unknown storage method 9");
  SetMessageSink(previous);
  EXPECT_TRUE(messages.empty());
}

// A stored item's bytes are its contents: a record whose two lengths
// disagree is damaged, and a read must neither hand out more bytes than the
// contents length nor pad the stored bytes with zeros up to it.
TEST_F(ContainerTest, StoredItemWhoseLengthsDisagreeIsNotRead) {
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    Add(fs, "S", "stored text", 0);
  }
  const std::string original = ReadWholeFile(path);
  const DWORD record = WordAt(original, 40);
  for (DWORD contents : {5u, 20u, 11u}) {
    std::string bytes = original;
    std::memcpy(&bytes[record + 4 + 4], &contents, 4);  // descriptor "S\0" is 4 bytes, then the method
    {
      CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
      f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
    }
    CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
    CFileServer::ItemInfo info;
    ASSERT_TRUE(ro.GetItemInfo(0, info));
    EXPECT_EQ(info.contentsLength, contents);
    EXPECT_EQ(info.sound, contents == 11) << contents;
    EXPECT_EQ(Contents(ro, 0), contents == 11 ? "stored text" : "<none>") << contents;
  }
}

// A reader takes the file's length once at open (writers are kept out by
// its lock). A program that ignores the lock and cuts the file under it
// makes the items behind the cut unreadable, reported as such: never
// contents made up of what is not there, and the items before the cut read
// as before.
TEST_F(ContainerTest, FileCutUnderAReaderIsReportedNotRead) {
  std::string texts[3];
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (int i = 0; i < 3; ++i) {
      texts[i].assign(20000, 'a' + i);
      for (std::size_t k = 0; k < texts[i].size(); k += 7) texts[i][k] = static_cast<char>('0' + k % 10);
      Add(fs, "I" + std::to_string(i) + ".HTM", texts[i], i == 1 ? 0 : 1);  // one item kept stored
    }
  }
  CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
  CFileServer::ItemInfo second;
  ASSERT_TRUE(fs.GetItemInfo(1, second));
  // Cut inside the stored bytes of item 1: item 2 lies wholly behind the cut.
  ASSERT_EQ(truncate(path.c_str(), second.recordOffset + 100), 0);
  EXPECT_TRUE(Contents(fs, 0) == texts[0]);
  for (DWORD slot : {1u, 2u}) {
    for (DWORD limit : {0u, 50u}) {
      CMemFile dst(4096);
      bool reported = false;
      std::string got;
      try {
        FileItemPtr item(fs.GetFile(slot, dst, limit, limit != 0));
        if (item) got.assign(reinterpret_cast<const char*>(dst.GetBuffer()), static_cast<std::size_t>(dst.GetLength()));
        else reported = true;
      } catch (const CException&) {
        reported = true;
      }
      EXPECT_TRUE(reported) << "slot " << slot << " limit " << limit << ": " << got.size() << " bytes read";
    }
  }
}

TEST_F(ContainerTest, ManyReadersAtOnceSeeTheSameItems) {
  std::vector<std::string> texts;
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (int i = 0; i < 64; ++i) {
      texts.push_back(std::string(1000 + i * 37, static_cast<char>('A' + i % 26)) + std::to_string(i));
      Add(fs, "D" + std::to_string(i) + ".HTM", texts.back(), i % 3);
    }
  }
  CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round)
        for (int i = (t + round) % 64, k = 0; k < 64; ++k, i = (i + 5) % 64) {
          if (Contents(fs, static_cast<DWORD>(i)) != texts[i]) ++wrong;
          if (fs.GetItemIndex(("D" + std::to_string(i) + ".HTM").c_str()) != static_cast<DWORD>(i)) ++wrong;
        }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A record's descriptor and fields are read in one block when they fit in
// it: descriptors of every length around the block's size, with caller data
// behind the name, and the last record of the file (whose block is cut by
// the end), read back whole by a reader, each read twice (the second time
// from the slot's kept offset).
TEST_F(ContainerTest, DescriptorsOfEveryLengthAroundTheReadBlockReadBack) {
  std::vector<WORD> sizes;
  for (WORD size : {3, 4, 200, 275, 480, 490, 495, 496, 497, 498, 499, 500, 501, 510, 511, 512, 513, 600, 4000})
    sizes.push_back(size);
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      const std::string name = "N" + std::to_string(k);
      FileItemPtr item(static_cast<_FILEITEM*>(std::calloc(1, sizes[k])));
      item->wSize = sizes[k];
      std::memcpy(item->szName, name.c_str(), std::min<std::size_t>(name.size() + 1, sizes[k] - 2u));
      if (sizes[k] - 2u < name.size() + 1) item->szName[sizes[k] - 3] = 0;
      for (std::size_t b = name.size() + 1; b + 2 < sizes[k]; ++b) item->szName[b] = static_cast<char>(b * 7 + k);
      CMemFile src = Source("text " + std::to_string(k));
      ASSERT_EQ(fs.AddFile(src, item.get(), k % 2 ? 0 : 2), k) << sizes[k];
    }
  }
  CFileServer ro(path.c_str(), nullptr, CFile::modeRead);
  for (int round = 0; round < 2; ++round) {
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      CMemFile dst(64);
      FileItemPtr item(ro.GetFile(static_cast<DWORD>(k), dst, 0, FALSE));
      ASSERT_TRUE(item) << sizes[k];
      EXPECT_EQ(item->wSize, sizes[k]);
      const std::string name = "N" + std::to_string(k);
      for (std::size_t b = name.size() + 1; b + 2 < sizes[k]; ++b)
        ASSERT_EQ(item->szName[b], static_cast<char>(b * 7 + k)) << sizes[k] << " byte " << b;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.GetBuffer()), static_cast<std::size_t>(dst.GetLength())),
                "text " + std::to_string(k));
    }
  }
}

// The record offsets of every slot as the file says them, by a walk of the
// raw bytes (words from offset 40; a 0 word ends a block and the next word
// links to the following one, 0 ending the chain); an empty slot reads 0.
std::vector<DWORD> RecordOffsetsByScan(const std::string& bytes) {
  std::vector<DWORD> offsets;
  std::size_t at = 40;
  for (;;) {
    const DWORD word = WordAt(bytes, at);
    if (word != 0) {
      offsets.push_back(word == CFileServer::kNoItem ? 0 : word);
      at += 4;
      continue;
    }
    const DWORD link = WordAt(bytes, at + 4);
    if (link == 0) return offsets;
    at = link;
  }
}

class OffsetReader : public CFileServer {
 public:
  using CFileServer::CFileServer;
  using CFileServer::FindOffset;
  using CFileServer::RecordOffsets;
};

// The slot words are read a window of the file at a time: items appended one
// by one leave each slot block beside its item, so slot words, markers and
// links lie at every offset modulo 4 and across every window's edge; a
// table grown in place keeps many slots in one block. Whatever the layout,
// the offsets (all at once or one by one, writable or read-only) and the
// items read back must be those the file holds.
TEST_F(ContainerTest, SlotOffsetsReadThroughAWindowAreThoseOfTheFile) {
  std::vector<std::string> texts;
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    for (DWORD i = 0; i < 700; ++i) {
      // Stored lengths that walk through every remainder of 4 and of 1024.
      texts.push_back(std::string(1 + (i * 389) % 2600, static_cast<char>('a' + i % 26)));
      ASSERT_EQ(Add(fs, "D" + std::to_string(i) + ".HTM", texts.back(), 0), i);
    }
    fs.RemoveFile(17);
    fs.RemoveFile(350);
    texts[17] = texts[350] = "<none>";
    ASSERT_EQ(fs.SetSize(1400, TRUE), 1400u);  // a block of 700 empty slots, grown in one piece
    texts.resize(1400, "<none>");
    ASSERT_EQ(Replace(fs, 1000, "R.HTM", "replaced", 0), 1000u);
    texts[1000] = "replaced";
  }
  const std::vector<DWORD> scan = RecordOffsetsByScan(ReadWholeFile(path));
  ASSERT_EQ(scan.size(), 1400u);
  EXPECT_EQ(scan[17], 0u);
  EXPECT_NE(scan[1000], 0u);
  for (UINT mode : {UINT(CFile::modeRead), UINT(CFile::modeReadWrite)}) {
    SCOPED_TRACE(mode == CFile::modeRead ? "read-only" : "writable");
    {
      OffsetReader fs(path.c_str(), &kGuid, mode);
      EXPECT_EQ(fs.RecordOffsets(), scan);
      for (DWORD i = 0; i < scan.size(); ++i) ASSERT_EQ(fs.FindOffset(i), scan[i]) << "slot " << i;
    }
    {
      // One by one first (nothing read ahead), then all at once.
      OffsetReader fs(path.c_str(), &kGuid, mode);
      for (DWORD i = scan.size(); i-- > 0;) ASSERT_EQ(fs.FindOffset(i), scan[i]) << "slot " << i;
      EXPECT_EQ(fs.RecordOffsets(), scan);
      for (DWORD i = 0; i < texts.size(); ++i) ASSERT_EQ(Contents(fs, i), texts[i]) << "slot " << i;
    }
  }
}

}  // namespace
}  // namespace kasten_test
