// Items are plain zlib streams both ways: zlib's own inflate reads every item
// the store writes, and the store reads every stream zlib writes, whatever
// its level, strategy or window (bases written by earlier versions of the
// store hold zlib's level-6 streams). Checked with zlib itself, not with the
// store's codec.
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "container_fixture.h"
#include "kasten/whole_deflate.h"

namespace kasten_test {
namespace {

// Text of the kind the store holds: markup and Polish words in
// windows-1250, repeated with variation (ratio about 4 to 8 under deflate).
std::string ActText(std::size_t n, unsigned seed) {
  static const char* const words[] = {"ustawa", "art.", "\xB1", "przepis\xF3w", "<P>", "</P>", "Dz.U.", "\xBF" "e",
                                      "s\xB9""d", "<A HREF=\"#a12\">", "</A>", "\r\n", "1997", "kodeks"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % (sizeof words / sizeof *words)];
    s += ' ';
  }
  s.resize(n);
  return s;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::vector<std::string> Texts() {
  return {std::string(), std::string("x"), ActText(5000, 1), ActText(300000, 2), RandomBytes(70000, 3),
          std::string(200000, 'a')};  // the last one beyond any plausible ratio: read through the stream
}

// zlib's inflate of a whole stream; false unless it ends exactly at the end
// of `stream` having checked its Adler-32.
bool ZlibInflate(const std::string& stream, std::size_t contents, std::string& out) {
  z_stream s{};
  if (inflateInit2(&s, 15) != Z_OK) return false;
  out.assign(contents + 1, '\0');  // one byte more: a longer stream shows
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&s, Z_FINISH);
  const bool whole = result == Z_STREAM_END && s.avail_in == 0;
  out.resize(s.total_out);
  inflateEnd(&s);
  return whole;
}

// zlib's deflate with the given parameters.
std::string ZlibDeflate(const std::string& text, int level, int windowBits, int memLevel, int strategy) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, windowBits, memLevel, strategy), Z_OK);
  std::string out(deflateBound(&s, text.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  s.avail_in = static_cast<uInt>(text.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

class ZlibCompat : public ContainerTest {
 protected:
  // A container holding one item, `text`, written by the store.
  std::string Write(const std::string& text, DWORD method = 1) {
    DeleteFileAt(path);
    {
      CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
      EXPECT_EQ(Add(fs, "A.HTM", text, method), 0u);
    }
    return ReadWholeFile(path);
  }
  void Put(const std::string& bytes) {
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  }
};

TEST_F(ZlibCompat, ZlibInflatesWhatTheStoreWrites) {
  for (DWORD method : {1u, 2u}) {
    for (const std::string& text : Texts()) {
      SCOPED_TRACE(std::to_string(text.size()) + " bytes, method " + std::to_string(method));
      const std::string bytes = Write(text, method);
      const Slot0Record r = LocateSlot0(bytes);
      EXPECT_EQ(r.method, method);
      EXPECT_EQ(r.contents, text.size());
      ASSERT_LE(r.data + r.stored, bytes.size());
      const std::string stream = bytes.substr(r.data, r.stored);
      // RFC 1950 header: deflate, 32 KB window at most, check bits, no dictionary.
      ASSERT_GE(stream.size(), 6u);
      const unsigned cmf = static_cast<unsigned char>(stream[0]), flg = static_cast<unsigned char>(stream[1]);
      EXPECT_EQ(cmf & 0x0F, 8u);
      EXPECT_LE(cmf >> 4, 7u);
      EXPECT_EQ((cmf * 256 + flg) % 31, 0u);
      EXPECT_EQ(flg & 0x20, 0u);
      // The trailer is the Adler-32 of the text, most significant byte first.
      const uLong adler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()),
                                  static_cast<uInt>(text.size()));
      EXPECT_EQ(static_cast<unsigned char>(stream[stream.size() - 4]), (adler >> 24) & 0xFF);
      EXPECT_EQ(static_cast<unsigned char>(stream[stream.size() - 1]), adler & 0xFF);
      std::string inflated;
      EXPECT_TRUE(ZlibInflate(stream, text.size(), inflated)) << "the stored length is not the stream's length";
      EXPECT_TRUE(inflated == text);
      // And the store reads it back, whole and as a prefix.
      CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
      EXPECT_TRUE(Contents(fs, 0) == text);
      const std::string half = Contents(fs, 0, 50, TRUE);
      EXPECT_TRUE(text.compare(0, half.size(), half) == 0) << "a prefix read is not a prefix";
      if (text.size() >= 5000) {
        EXPECT_GT(half.size(), 0u);
      }
    }
  }
}

// A file source is read to its end in growing pieces, not only a memory file.
TEST_F(ZlibCompat, ItemsFromAFileOnDiskAreWrittenWhole) {
  const std::string text = ActText(100000, 4);
  const std::string source = dir + "/source.htm";
  {
    CFile f(source.c_str(), CFile::modeCreate | CFile::modeWrite);
    f.Write(text.data(), static_cast<UINT>(text.size()));
  }
  {
    CFileServer fs(path.c_str(), &kGuid, CFile::modeReadWrite);
    CFile src(source.c_str(), CFile::modeRead);
    Item item("A.HTM");
    ASSERT_EQ(fs.AddFile(src, item.p, 1), 0u);
  }
  const std::string bytes = ReadWholeFile(path);
  const Slot0Record r = LocateSlot0(bytes);
  EXPECT_EQ(r.contents, text.size());
  std::string inflated;
  EXPECT_TRUE(ZlibInflate(bytes.substr(r.data, r.stored), text.size(), inflated));
  EXPECT_TRUE(inflated == text);
}

// Slot 0's stored bytes replaced by `stream` (the name table behind the
// record moves with it): an item as another writer of the format made it.
std::string WithStream(std::string bytes, const std::string& stream) {
  const Slot0Record r = LocateSlot0(bytes);
  const DWORD table = WordAt(bytes, 28);
  EXPECT_GT(table, r.data);  // the table lies behind the record, nothing else does
  bytes.replace(r.data, r.stored, stream);
  PutWord(bytes, r.fields + 8, static_cast<DWORD>(stream.size()));
  PutWord(bytes, 28, table - r.stored + static_cast<DWORD>(stream.size()));
  return bytes;
}

TEST_F(ZlibCompat, TheStoreReadsWhatZlibWrites) {
  struct Params {
    int level, windowBits, memLevel, strategy;
  };
  // Level 6, window 15, memory 8, default strategy: what the store wrote
  // before; the others are streams any writer may make.
  const Params params[] = {{6, 15, 8, Z_DEFAULT_STRATEGY}, {0, 15, 8, Z_DEFAULT_STRATEGY}, {1, 15, 8, Z_DEFAULT_STRATEGY},
                           {9, 15, 9, Z_DEFAULT_STRATEGY}, {6, 9, 1, Z_DEFAULT_STRATEGY},  {6, 12, 8, Z_FILTERED},
                           {6, 15, 8, Z_HUFFMAN_ONLY},     {6, 15, 8, Z_RLE},              {6, 15, 8, Z_FIXED}};
  for (const std::string& text : Texts()) {
    const std::string base = Write(text);
    for (const Params& p : params) {
      SCOPED_TRACE(std::to_string(text.size()) + " bytes, level " + std::to_string(p.level) + ", window " +
                   std::to_string(p.windowBits) + ", strategy " + std::to_string(p.strategy));
      const std::string stream = ZlibDeflate(text, p.level, p.windowBits, p.memLevel, p.strategy);
      Put(WithStream(base, stream));
      CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
      EXPECT_TRUE(Contents(fs, 0) == text);
      EXPECT_TRUE(Contents(fs, fs.GetItemIndex("A.HTM")) == text);
      const std::string part = Contents(fs, 0, static_cast<DWORD>(stream.size() / 2));
      EXPECT_TRUE(text.compare(0, part.size(), part) == 0) << "a prefix read is not a prefix";
      EXPECT_TRUE(fs.Verify(true).Sound());
    }
  }
}

// Damage in a stream zlib wrote is found as in one the store wrote: the
// checksum, a stream that ends early or late against the record, a cut.
TEST_F(ZlibCompat, DamageInZlibsStreamsIsFound) {
  const std::string text = ActText(40000, 5);
  const std::string stream = ZlibDeflate(text, 6, 15, 8, Z_DEFAULT_STRATEGY);
  const std::string base = Write(text);
  auto readsAs = [&](const std::string& bytes, DWORD error) {
    Put(bytes);
    CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
    CMemFile dst(4096);
    try {
      FileItemPtr item(fs.GetFile(DWORD{0}, dst, 0, FALSE));
      return item ? std::string("read") : std::string("no item");
    } catch (const CZLibException& e) {
      return std::string(e.m_dwError == error ? "expected" : "other zlib error");
    }
  };
  std::string checksum = stream;
  checksum.back() ^= 0x04;
  EXPECT_EQ(readsAs(WithStream(base, checksum), CZLibException::dataError), "expected");
  // The contents length one short and one long.
  for (int delta : {-1, 1}) {
    std::string bytes = WithStream(base, stream);
    PutWord(bytes, LocateSlot0(bytes).fields + 4, static_cast<DWORD>(text.size() + delta));
    EXPECT_EQ(readsAs(bytes, CZLibException::dataError), "expected") << delta;
  }
  // Four bytes behind the stream's end inside the stored length.
  EXPECT_EQ(readsAs(WithStream(base, stream + std::string(4, '\0')), CZLibException::dataError), "expected");
  // The trailer cut off: the stream does not end within its stored bytes.
  EXPECT_EQ(readsAs(WithStream(base, stream.substr(0, stream.size() - 4)), CZLibException::bufferError), "expected");
}

}  // namespace
}  // namespace kasten_test

// The checksum of the files beside the bases is zlib's CRC-32: the same
// values as zlib's own crc32, whole or continued piece by piece, for every
// length around the sizes where a fast implementation changes its method.
TEST(WholeDeflateCrc, IsZlibsCrc32) {
  std::mt19937 random(5);
  std::vector<BYTE> bytes(70000);
  for (BYTE& b : bytes) b = static_cast<BYTE>(random());
  EXPECT_EQ(whole_deflate::Crc32("123456789", 9), 0xCBF43926u);  // the check value of CRC-32
  EXPECT_EQ(whole_deflate::Crc32(bytes.data(), 0), 0u);
  for (std::size_t length : {1u, 3u, 15u, 16u, 17u, 63u, 64u, 65u, 255u, 256u, 1000u, 4096u, 65537u, 70000u}) {
    const DWORD zlibs = static_cast<DWORD>(crc32(0, bytes.data(), static_cast<uInt>(length)));
    EXPECT_EQ(whole_deflate::Crc32(bytes.data(), length), zlibs) << length;
    const std::size_t cut = length / 3;
    EXPECT_EQ(whole_deflate::Crc32(bytes.data() + cut, length - cut, whole_deflate::Crc32(bytes.data(), cut)), zlibs)
        << length;
  }
}
