// The table-of-acts cache file beside a catalogue's bases.
//
// Input: the bytes of a cache file, read for a catalogue of two bases (fixed
// GUIDs, base files older than the cache).
//
// Properties:
//  - the reader takes exactly the files that a reading of the format made
//    here, apart from it, accepts: two bases with their GUIDs in order, N
//    entries filling the rest of the file exactly, each naming base 0 or 1,
//    in strict table order (first and second reference ascending, then the
//    combined index descending); and it yields exactly those entries;
//  - what it yields, written again, is the same file byte for byte, and
//    reads back the same.
#include <sys/time.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "biblion/act_cache.h"
#include "fuzz/fuzz_support.h"

namespace {

const std::vector<GUID> kGuids = {
    {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}},
    {0xA1B2C3D4, 0xE5F6, 0x0718, {9, 10, 11, 12, 13, 14, 15, 16}},
};

DWORD Word(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24; }

std::vector<std::uint8_t> GuidBytes(const GUID& g) {
  std::vector<std::uint8_t> b = {BYTE(g.Data1), BYTE(g.Data1 >> 8), BYTE(g.Data1 >> 16), BYTE(g.Data1 >> 24),
                                 BYTE(g.Data2), BYTE(g.Data2 >> 8), BYTE(g.Data3),       BYTE(g.Data3 >> 8)};
  b.insert(b.end(), g.Data4, g.Data4 + 8);
  return b;
}

// The format read here, apart from the reader.
std::optional<std::vector<biblion::ActEntry>> Model(const std::uint8_t* data, std::size_t size) {
  const std::size_t head = 4 + 16 * kGuids.size() + 4;
  if (size < head || Word(data) != kGuids.size()) return std::nullopt;
  for (std::size_t i = 0; i < kGuids.size(); ++i)
    if (std::memcmp(data + 4 + 16 * i, GuidBytes(kGuids[i]).data(), 16) != 0) return std::nullopt;
  const std::uint64_t n = Word(data + head - 4);
  if (n > 0x10000 * kGuids.size() || size != head + 12 * n) return std::nullopt;
  std::vector<biblion::ActEntry> entries;
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint8_t* p = data + head + 12 * i;
    biblion::ActEntry e{Word(p), Word(p + 4), Word(p + 8)};
    if ((e.dwIndex >> 16) >= kGuids.size()) return std::nullopt;
    if (!entries.empty()) {
      const biblion::ActEntry& b = entries.back();
      bool ordered = b.dwFirst != e.dwFirst     ? b.dwFirst < e.dwFirst
                     : b.dwSecond != e.dwSecond ? b.dwSecond < e.dwSecond
                                                : b.dwIndex > e.dwIndex;
      if (!ordered) return std::nullopt;
    }
    entries.push_back(e);
  }
  return entries;
}

bool Same(const std::vector<biblion::ActEntry>& a, const std::vector<biblion::ActEntry>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

struct Files {
  std::string cache, rewritten;
  std::vector<std::string> bases;
  Files() {
    const std::string& dir = fuzz::ScratchDir();
    cache = dir + "/acts.itt";
    rewritten = dir + "/again.itt";
    for (int i = 0; i < 2; ++i) {
      bases.push_back(dir + "/base" + std::to_string(i) + ".vq");
      fuzz::WriteFileBytes(bases.back(), "base");
      // Older than any cache written from now on.
      struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
      ::utimes(bases.back().c_str(), old);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Files files;
  fuzz::WriteFileBytes(files.cache, std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<biblion::ActEntry> entries;
  bool loaded = biblion::LoadActCache(files.cache, kGuids, files.bases, entries);
  std::optional<std::vector<biblion::ActEntry>> expected = Model(data, size);
  FUZZ_REQUIRE(loaded == expected.has_value(), loaded ? "a cache the format forbids was read"
                                                      : "a sound cache was refused");
  if (!loaded) {
    FUZZ_REQUIRE(entries.empty(), "a refused cache changed the entries");
    return 0;
  }
  FUZZ_REQUIRE(Same(entries, *expected), "the entries read differ from the file's");

  FUZZ_REQUIRE(biblion::WriteActCache(files.rewritten, kGuids, entries), "the cache cannot be written again");
  std::string again = fuzz::ReadFileBytes(files.rewritten);
  FUZZ_REQUIRE(again == std::string_view(reinterpret_cast<const char*>(data), size),
               "written again, the cache is another file");
  std::vector<biblion::ActEntry> reread;
  FUZZ_REQUIRE(biblion::LoadActCache(files.rewritten, kGuids, files.bases, reread) && Same(reread, entries),
               "the cache written again does not read back");
  return 0;
}
