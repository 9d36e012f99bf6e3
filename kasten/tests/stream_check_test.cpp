// A read checks each zlib stream against its item record: the Adler-32 of
// the contents, the contents length, the stored length. Damage raises
// CZLibException (data error for what disagrees, buffer error for a stream
// cut short) instead of handing out changed, cut or zero-padded contents,
// and a damaged contents length is never allocated.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "container_fixture.h"
#include "kasten/codec.h"

namespace kasten_test {
namespace {

// Incompressible text: deflate keeps it in stored blocks, so a changed byte
// inside them changes the output without breaking the stream's structure;
// only the checksum can tell.
std::string RandomText(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

enum class Outcome { Read, NoItem, DataError, BufferError, OtherError };

// Reads slot 0 of the container in `bytes` into a memory file (or, with
// `streamed`, through a file the codec cannot fill in place).
Outcome ReadBack(const std::string& path, const std::string& bytes, std::string* got, DWORD limit = 0,
                 BOOL percent = FALSE, bool streamed = false) {
  {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  }
  CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
  struct Streamed : CMemFile {};  // not a plain CMemFile: inflated through the output buffer
  CMemFile plain(4096);
  Streamed other;
  CMemFile& dst = streamed ? static_cast<CMemFile&>(other) : plain;
  try {
    _FILEITEM* item = fs.GetFile(DWORD{0}, dst, limit, percent);
    if (!item) return Outcome::NoItem;
    CFileServer::FreeFileItem(item);
  } catch (const CZLibException& e) {
    return e.m_dwError == CZLibException::dataError     ? Outcome::DataError
           : e.m_dwError == CZLibException::bufferError ? Outcome::BufferError
                                                        : Outcome::OtherError;
  } catch (const CException&) {
    return Outcome::OtherError;
  }
  if (got) *got = std::string(reinterpret_cast<const char*>(dst.GetBuffer()), static_cast<std::size_t>(dst.GetLength()));
  return Outcome::Read;
}

class StreamCheck : public ContainerTest {
 protected:
  // One zlib item followed by a second one, so that a longer stored length
  // still lies inside the file.
  std::string Build(const std::string& text) {
    DeleteFileAt(path);
    {
      CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
      Add(fs, "A.HTM", text, 1);
      Add(fs, "B.HTM", "the item behind", 1);
    }
    return ReadWholeFile(path);
  }
};

TEST_F(StreamCheck, SoundItemsReadWhole) {
  for (std::string text : {std::string(), std::string("x"), RandomText(70000, 1), std::string(200000, 'a')}) {
    const std::string bytes = Build(text);
    for (bool streamed : {false, true}) {
      std::string got;
      ASSERT_EQ(ReadBack(path, bytes, &got, 0, FALSE, streamed), Outcome::Read) << text.size();
      EXPECT_TRUE(got == text) << got.size() << " bytes read of " << text.size() << (streamed ? " (streamed)" : "");
    }
  }
}

// Large enough that the checksum comes in a later piece of input than the
// last contents byte (a read that stops at the contents length never sees it).
TEST_F(StreamCheck, ChangedContentsAreFoundByTheChecksum) {
  const std::string text = RandomText(100000, 2);
  const std::string bytes = Build(text);
  const Slot0Record r = LocateSlot0(bytes);
  ASSERT_GT(r.stored, text.size());  // kept in stored blocks indeed
  for (bool streamed : {false, true}) {
    std::string damaged = bytes;
    damaged[r.data + 50000] ^= 0x20;  // inside a stored block: the stream stays well formed
    EXPECT_EQ(ReadBack(path, damaged, nullptr, 0, FALSE, streamed), Outcome::DataError);
    damaged = bytes;
    damaged[r.data + r.stored - 1] ^= 0x01;  // the checksum itself
    EXPECT_EQ(ReadBack(path, damaged, nullptr, 0, FALSE, streamed), Outcome::DataError);
    // A prefix that reaches the end of the stream is checked as well.
    EXPECT_EQ(ReadBack(path, damaged, nullptr, 150, TRUE, streamed), Outcome::DataError);
    EXPECT_EQ(ReadBack(path, damaged, nullptr, r.stored, FALSE, streamed), Outcome::DataError);
    // A prefix that stops before it cannot see the checksum: it reads.
    std::string got;
    EXPECT_EQ(ReadBack(path, damaged, &got, 50, TRUE, streamed), Outcome::Read);
    EXPECT_TRUE(got == text.substr(0, got.size()));
    EXPECT_GT(got.size(), 40000u);
  }
}

// A changed bit of Huffman-coded data mostly breaks the stream or makes it
// decode to other bytes, often of another length: a read that stopped at the
// contents length handed those out. Every read now either raises or returns
// the original contents (a change in the padding bits after the last block
// changes nothing).
TEST_F(StreamCheck, EveryChangedByteOfAStreamIsFoundOrHarmless) {
  std::string text;
  for (int i = 0; text.size() < 6000; ++i)
    text += "<P>Art. " + std::to_string(i) + ". Minister wlasciwy do spraw " + (i % 3 ? "finansow" : "pracy") + ".\r\n";
  const std::string bytes = Build(text);
  const Slot0Record r = LocateSlot0(bytes);
  int silent = 0, found = 0;
  for (DWORD at = r.data + 2; at < r.data + r.stored; ++at) {
    for (BYTE bit : {0x01, 0x10}) {
      std::string damaged = bytes;
      damaged[at] ^= static_cast<char>(bit);
      std::string got;
      Outcome o = ReadBack(path, damaged, &got, 0, FALSE, at % 2 == 0);
      if (o == Outcome::Read && got != text) ++silent;
      if (o != Outcome::Read) ++found;
    }
  }
  EXPECT_EQ(silent, 0) << "changed contents handed out silently";
  EXPECT_GT(found, static_cast<int>(r.stored));
}

TEST_F(StreamCheck, ContentsLengthThatDisagreesWithTheStream) {
  const std::string text = "<P>Art. 1. " + std::string(3000, 'z') + " koniec";
  const std::string bytes = Build(text);
  const Slot0Record r = LocateSlot0(bytes);
  for (bool streamed : {false, true}) {
    for (DWORD declared : {r.contents - 1, r.contents + 1, r.contents / 2, r.contents * 3, 0u}) {
      std::string damaged = bytes;
      PutWord(damaged, r.fields + 4, declared);
      std::string got = "untouched";
      EXPECT_EQ(ReadBack(path, damaged, &got, 0, FALSE, streamed), Outcome::DataError) << declared;
      // The prefix reads that stop before the end still read what they see.
      if (declared > 100) {
        EXPECT_EQ(ReadBack(path, damaged, &got, 8, FALSE, streamed), Outcome::Read) << declared;
        EXPECT_TRUE(got == text.substr(0, got.size()));
      }
    }
  }
}

TEST_F(StreamCheck, StoredLengthThatDisagreesWithTheStream) {
  const std::string text = RandomText(3000, 3) + std::string(3000, 'q');
  const std::string bytes = Build(text);
  const Slot0Record r = LocateSlot0(bytes);
  for (bool streamed : {false, true}) {
    std::string damaged = bytes;
    PutWord(damaged, r.fields + 8, r.stored - 3);  // the stream is cut short
    EXPECT_EQ(ReadBack(path, damaged, nullptr, 0, FALSE, streamed), Outcome::BufferError);
    PutWord(damaged, r.fields + 8, r.stored - 100);
    EXPECT_EQ(ReadBack(path, damaged, nullptr, 0, FALSE, streamed), Outcome::BufferError);
    PutWord(damaged, r.fields + 8, r.stored + 5);  // bytes behind the end of the stream
    EXPECT_EQ(ReadBack(path, damaged, nullptr, 0, FALSE, streamed), Outcome::DataError);
  }
}

TEST_F(StreamCheck, StreamLongerThanItsRecordAfterAPrefix) {
  // The contents length says 10 bytes; the stream holds many more. A prefix
  // that gets past the tenth byte shows the stream is longer than declared.
  const std::string text(50000, 'k');
  const std::string bytes = Build(text);
  const Slot0Record r = LocateSlot0(bytes);
  std::string damaged = bytes;
  PutWord(damaged, r.fields + 4, 10);
  EXPECT_EQ(ReadBack(path, damaged, nullptr, 100, TRUE), Outcome::DataError);
}

// What a damaged read raises names the container, the item and what is wrong.
TEST_F(StreamCheck, DamageIsReportedWithItsPlace) {
  const std::string bytes = Build(RandomText(3000, 5) + std::string(3000, 'p'));
  const Slot0Record r = LocateSlot0(bytes);
  auto message = [&](const std::string& damaged) {
    {
      CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
      f.Write(damaged.data(), static_cast<UINT>(damaged.size()));
    }
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    CMemFile dst(4096);
    try {
      CFileServer::FreeFileItem(fs.GetFile(DWORD{0}, dst, 0, FALSE));
    } catch (const CException& e) {
      return e.GetErrorMessage();
    }
    return std::string("no exception");
  };
  std::string d = bytes;
  PutWord(d, r.fields + 8, r.stored - 3);
  EXPECT_EQ(message(d), path + ": slot 0 (A.HTM): compressed data incomplete: the stream does not end within its " +
                            std::to_string(r.stored - 3) + " stored bytes");
  d = bytes;
  PutWord(d, r.fields + 4, r.contents + 1);
  EXPECT_EQ(message(d), path + ": slot 0 (A.HTM): compressed data damaged: the stream holds " +
                            std::to_string(r.contents) + " bytes, the record declares " + std::to_string(r.contents + 1));
  d = bytes;
  d[r.data + r.stored - 2] ^= 1;
  EXPECT_EQ(message(d), path + ": slot 0 (A.HTM): compressed data damaged: incorrect data check");
}

// A contents length far beyond what the stream holds (within deflate's
// ratio bound, so the record looks plausible) once cost its whole size in
// zeroed memory per read. Measured in a child process, so that the peak
// belongs to this one read.
TEST_F(StreamCheck, DamagedContentsLengthIsNeverAllocated) {
  const std::string text = RandomText(100000, 4);
  const std::string bytes = Build(text);
  const Slot0Record r = LocateSlot0(bytes);
  std::string damaged = bytes;
  const DWORD declared = r.stored * 1000;  // 100 MB, within the 1032:1 bound
  PutWord(damaged, r.fields + 4, declared);
  {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(damaged.data(), static_cast<UINT>(damaged.size()));
  }
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t pid = fork();
  if (pid == 0) {
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    long outcome = 0;
    {
      CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
      CMemFile dst(4096);
      try {
        _FILEITEM* item = fs.GetFile(DWORD{0}, dst, 0, FALSE);
        outcome = item ? 1 : 2;
        CFileServer::FreeFileItem(item);
      } catch (const CZLibException& e) {
        outcome = 10 + static_cast<long>(e.m_dwError);
      } catch (...) {
        outcome = 3;
      }
    }
    getrusage(RUSAGE_SELF, &after);
    long report[2] = {outcome, after.ru_maxrss - before.ru_maxrss};
    (void)!write(pipefd[1], report, sizeof report);
    _exit(0);
  }
  long report[2] = {0, 0};
  ASSERT_EQ(read(pipefd[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(report[0], 10 + CZLibException::dataError);
  EXPECT_LT(report[1], 20 * 1024) << "KB of peak memory grown by one read";  // not 100 MB
}

}  // namespace
}  // namespace kasten_test
