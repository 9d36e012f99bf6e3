// A container from bytes: opened, walked, every item read, and checked by
// `vamubase verify`.
//
// Input: the bytes of a container file.
//
// Properties, slot by slot:
//  - the descriptor, the record and the contents agree: a slot with a
//    record has a descriptor of the same name, the sizes GetFileSize and
//    GetFileCompSize report are the record's; a slot without a descriptor
//    has no record and no contents;
//  - where the slot table lies in one block (layout flag 1), the descriptor
//    read is the one the file holds at the slot word's offset, found by a
//    reading of the format made here;
//  - a full read into memory and one through a streaming destination give
//    the same bytes; a full read succeeds exactly when the record is sound
//    as read here (stored bytes of the contents length; or one whole zlib
//    stream, checksum included, ending with the stored bytes and yielding the
//    contents length), and gives those bytes;
// and against what verify says:
//  - a container that cannot be opened is not healthy;
//  - every prefix read of a sound item succeeds and is a prefix of it;
//  - a container verify finds healthy reads completely: every item reads
//    and every name finds its item;
//  - a slot word that names a record the store cannot read makes the
//    container damaged, not "empty".
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/fuzz_support.h"
#include "kasten/file_server.h"
#include "platform/file.h"
#include "fuzz/verify_tool.h"

namespace {

DWORD Word(std::string_view b, std::size_t at) {
  auto u = [&](std::size_t k) { return static_cast<DWORD>(static_cast<unsigned char>(b[at + k])); };
  return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

// The offsets of the slot words, read here from the bytes: in one block
// after the header, or along the chain of blocks (a word 0 ends a block and
// is followed by the offset of the next, 0 for none). A chain that leaves
// the file, ends before the slot count, or reads a byte twice (a slot word,
// an end marker or a link overlapping one already read: a link may not
// point back at itself) is damaged.
struct SlotTable {
  std::vector<DWORD> words;
  bool damaged = false;
};

SlotTable ReadSlotTable(std::string_view bytes, DWORD count, bool contiguous) {
  SlotTable t;
  if (contiguous) {
    for (DWORD i = 0; i < count; ++i) t.words.push_back(40 + 4 * i);  // the open checked that they fit
    return t;
  }
  std::vector<bool> read(bytes.size());
  // The word at `at`, when it lies in the file and overlaps no word read before.
  auto take = [&](std::size_t at, DWORD& value) {
    if (at + 4 > bytes.size()) return false;
    for (std::size_t k = at; k < at + 4; ++k)
      if (read[k]) return false;
    for (std::size_t k = at; k < at + 4; ++k) read[k] = true;
    value = Word(bytes, at);
    return true;
  };
  std::size_t pos = 40;
  while (t.words.size() < count) {
    DWORD value = 0, link = 0;
    if (!take(pos, value)) {
      t.damaged = true;
      break;
    }
    if (value != 0) {
      t.words.push_back(static_cast<DWORD>(pos));
      pos += 4;
      continue;
    }
    if (!take(pos + 4, link) || link < 40) {
      t.damaged = true;  // the chain ends (or leaves the file) before the slot count
      break;
    }
    pos = link;
  }
  return t;
}

// A destination that is not a plain memory file, as a streaming reader
// (verify's counter, a disk file) is.
class StreamingFile : public CMemFile {
 public:
  StreamingFile() : CMemFile(4096) {}
};

std::string Contents(const CMemFile& f) {
  return std::string(reinterpret_cast<const char*>(f.GetBuffer()), static_cast<std::size_t>(f.GetLength()));
}

// What a record's contents are, read here from the bytes: the stored bytes
// themselves (method 0, both lengths equal), or what zlib makes of them
// (methods 1 and 2): one whole stream, checksum included, that ends with the
// stored bytes and yields exactly the contents length. Nothing when the
// record is damaged.
std::optional<std::string> Decode(std::string_view bytes, std::size_t dataAt, const CFileServer::ItemInfo& info) {
  if (dataAt > bytes.size() || bytes.size() - dataAt < info.storedLength) return std::nullopt;
  std::string_view stored = bytes.substr(dataAt, info.storedLength);
  if (info.method == 0)
    return info.contentsLength == info.storedLength ? std::optional<std::string>(stored) : std::nullopt;
  if (info.method != 1 && info.method != 2) return std::nullopt;
  z_stream s{};
  if (inflateInit2(&s, 15) != Z_OK) return std::nullopt;
  std::string out;
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
  s.avail_in = static_cast<uInt>(stored.size());
  int result = Z_OK;
  char buf[4096];
  while (result == Z_OK && out.size() <= info.contentsLength) {
    s.next_out = reinterpret_cast<Bytef*>(buf);
    s.avail_out = sizeof buf;
    result = inflate(&s, Z_NO_FLUSH);
    out.append(buf, sizeof buf - s.avail_out);
  }
  const bool whole = result == Z_STREAM_END && s.avail_in == 0 && out.size() == info.contentsLength;
  inflateEnd(&s);
  return whole ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (fuzz::QuietMessages(), true);
  (void)quiet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  static const std::string path = fuzz::ScratchDir() + "/container.vq";
  fuzz::WriteFileBytes(path, bytes);

  const bool healthy = fuzz::VerifySaysHealthy(path);
  CFileServer fs;
  if (!fs.Init(path.c_str(), nullptr, CFile::modeRead)) {
    FUZZ_REQUIRE(!healthy, "verify finds a container healthy that cannot be opened");
    return 0;
  }
  const DWORD slots = fs.GetSize();
  const SlotTable chain = ReadSlotTable(bytes, slots, fs.GetLayout() == 1);
  // What makes the container damaged, as the walk below sees it; checked
  // against verify at the end, so that the reads are checked first.
  std::string damage = chain.damaged ? "its slot table is damaged" : "";
  auto damaged = [&damage](const std::string& what) {
    if (damage.empty()) damage = what;
  };
  for (DWORD i = 0; i < slots; ++i) {
    const std::string at = "slot " + std::to_string(i) + ": ";
    _FILEITEM* item = fs.GetItem(i);
    CFileServer::ItemInfo info;
    const bool record = fs.GetItemInfo(i, info);
    const std::string name = item ? item->szName : "";
    const WORD itemSize = item ? item->wSize : 0;
    std::string descriptor = item ? std::string(reinterpret_cast<const char*>(item), item->wSize) : "";
    const bool described = item != nullptr;
    CFileServer::FreeFileItem(item);
    FUZZ_REQUIRE(!record || (described && info.name == name), at + "a record without its descriptor");
    FUZZ_REQUIRE(fs.GetFileSize(i) == (record ? info.contentsLength : 0), at + "GetFileSize is not the record's");
    FUZZ_REQUIRE(fs.GetFileCompSize(i) == (record ? info.storedLength : 0), at + "GetFileCompSize is not the record's");

    // The slot word and the descriptor, read here from the bytes.
    if (i < chain.words.size()) {
      DWORD word = Word(bytes, chain.words[i]);
      if (word != 0xFFFFFFFF) {
        bool fits = word >= 40 && word + 2ull <= size;
        std::size_t length =
            fits ? (static_cast<unsigned char>(bytes[word]) | static_cast<unsigned char>(bytes[word + 1]) << 8) : 0;
        fits = fits && length >= 3 && word + length <= size &&
               std::memchr(bytes.data() + word + 2, 0, length - 2) != nullptr;
        if (!chain.damaged) {
          if (fits)
            FUZZ_REQUIRE(described && descriptor == bytes.substr(word, length),
                         at + "the descriptor read is not the one at the slot word's offset");
          else
            FUZZ_REQUIRE(!described, at + "a descriptor read where the file holds none");
        }
        if (!fits) damaged(at + "its record cannot be read");
      } else if (!chain.damaged) {
        FUZZ_REQUIRE(!described, at + "an empty slot gives a descriptor");
      }
    } else if (!chain.damaged) {
      FUZZ_REQUIRE(!described, at + "a descriptor for a slot the table does not reach");
    }

    if (!record) {
      CMemFile none(4096);
      _FILEITEM* got = nullptr;
      try {
        got = fs.GetFile(i, none, 0, FALSE);
      } catch (const CException&) {
      }
      FUZZ_REQUIRE(!got, at + "contents read from a slot without a record");
      if (described) damaged(at + "its descriptor has no record behind it");
      continue;
    }

    // Full reads, into memory and through a streaming destination.
    std::optional<std::string> full, streamed;
    try {
      CMemFile dst(4096);
      if (_FILEITEM* got = fs.GetFile(i, dst, 0, FALSE)) {
        FUZZ_REQUIRE(std::string(got->szName) == name, at + "GetFile hands out another descriptor");
        CFileServer::FreeFileItem(got);
        full = Contents(dst);
      }
    } catch (const CException&) {
    }
    try {
      StreamingFile dst;
      if (_FILEITEM* got = fs.GetFile(i, dst, 0, FALSE)) {
        CFileServer::FreeFileItem(got);
        streamed = Contents(dst);
      }
    } catch (const CException&) {
    }
    FUZZ_REQUIRE(full.has_value() == streamed.has_value() && (!full || *full == *streamed),
                 at + "reading into memory and streaming disagree");
    const std::optional<std::string> expected = Decode(bytes, info.recordOffset + std::size_t{itemSize} + 12, info);
    FUZZ_REQUIRE(full.has_value() || !expected.has_value(), at + "a sound item cannot be read");
    FUZZ_REQUIRE(!full.has_value() || expected.has_value(), at + "a damaged item is read (" +
                                                                std::to_string(full ? full->size() : 0) + " bytes)");
    if (full) FUZZ_REQUIRE(*full == *expected, at + "the item reads otherwise than its record decodes");
    if (!full) {
      damaged(at + "its item cannot be read");
      continue;
    }
    for (DWORD limit : {1u, 7u, 100u, info.storedLength / 2}) {
      CMemFile part(4096);
      _FILEITEM* got = nullptr;
      try {
        got = fs.GetFile(i, part, limit, FALSE);
      } catch (const CException&) {
      }
      FUZZ_REQUIRE(got, at + "a read of " + std::to_string(limit) + " stored bytes of a sound item fails");
      CFileServer::FreeFileItem(got);
      std::string prefix = Contents(part);
      FUZZ_REQUIRE(full->compare(0, prefix.size(), prefix) == 0,
                   at + "a read of " + std::to_string(limit) + " stored bytes is no prefix of the item");
    }
    if (fs.GetItemIndex(name.c_str()) == CFileServer::kNoItem)
      damaged(at + fuzz::Shown(name, 60) + " is not found by its name");
  }
  FUZZ_REQUIRE(!healthy || damage.empty(), "verify finds a container healthy, but " + damage);
  return 0;
}
