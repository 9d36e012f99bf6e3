// The word positions file beside a base, damaged or arbitrary, beside a
// fixed base of twenty documents with markup between and inside words.
//
// Input: one byte of flags, then the bytes of the file.
//   bit 0: the fields that tie the file to the base (GUID, stamp, slot
//          count) are set from the base's own file, and the header's
//          checksum is set to what the header gives;
//   bit 1: every checksum of the file is set to what its bytes give, so
//          that damage gets past the checksums into the decoders.
//
// The harness reads the file's checksums itself (header and section table,
// sections 1, 2 and 4, each word's postings, each document's record: the
// format as docs/formats.md gives it).
//
// Properties:
// - the base opens whatever lies beside it;
// - a file whose header, section table or checked sections do not match
//   their checksums is never usable, and the postings or record whose own
//   checksum fails are never handed out; reading every word's postings and
//   every slot's record of a usable file either decodes or says the file is
//   damaged;
// - phrase and proximity queries (a fixed list, against the base's words)
//   find what the same queries find with no file beside the base, whenever
//   any checksum of the file fails. A file whose every checksum holds is
//   taken as written by the base (a forged file cannot be told from a sound
//   one), and must only not break anything.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "concorda/positions_file.h"
#include "concorda/positions_format.h"
#include "concorda/query_budget.h"
#include "concorda/word_query.h"
#include "fuzz/fuzz_support.h"

namespace {

using Items = std::vector<DWORD>;
using concorda::CPositionsFile;

const char* const kWords[] = {
    "kodeks", "Kodeks", "KODEKS", "kodeksy", "dekodeks", "pracy", "Pracy", "współpracy", "sąd", "Sąd", "SĄD",
    "sądu",   "w",      "z",      "na",      "oraz",     "art",   "ustawa", "ustawy",   "1997", "5",  "5a",
    "u5",     "U5",     "żółw",   "ŻÓŁW",    "skargi",   "kasacyjnej", "karnej", "ko", "deks"};
const char* const kBetween[] = {" ",   " ",   " ", " ", ", ", ". ",   "  ", "\r\n", "@",
                                " <B>", "</B> ", "<BR>", "-", "<I>", "</I>", " <A NAME=\"kodeks pracy\">"};
constexpr int kDocuments = 20;

// Phrases of whole and cut words, digits beside letters of the same byte
// partner, punctuation and double blanks (left to the scan), and proximity
// of words, wildcards and phrases.
const char* const kQueries[] = {
    "\"kodeks pracy\"",
    "\"KODEKS PRACY\" LUB sąd",
    "\"sąd\"",
    "\"deks pra\"",
    "\"odeks\"",
    "\"5 kodeks\"",
    "\"u5 sąd\"",
    "\"ustawa z\"",
    "\"w sądu\"",
    "\"skargi kasacyjnej\"",
    "\"skargi kasacyjnej\" I kodeks",
    "\"pracy, sąd\"",
    "\"kodeks  pracy\"",
    "\"żółw sąd\"",
    "\"ko\"",
    "\"1997 ustawy\"",
    "\"kodeks pracy\" \"sąd\"",
    "kodeks BLISKO/1 pracy",
    "kodeks BLISKO/0 pracy",
    "sąd BLISKO/3 ustawa",
    "kod* BLISKO/2 sąd*",
    "\"kodeks pracy\" BLISKO/4 sąd",
    "ustawa BLISKO/2 \"skargi kasacyjnej\"",
    "kodeks BLISKO/2 pracy BLISKO/2 sąd",
    "1997 BLISKO/5 art",
    "żółw BLISKO/10 kodeksy",
    "*deks BLISKO/1 pracy",
    "5a BLISKO/1 u5",
    "kodeks BLISKO/3 kodeks",
    "sąd BLISKO/1 pracy NIE kodeks",
};
constexpr std::size_t kQueryCount = sizeof kQueries / sizeof kQueries[0];

DWORD Le32(const std::string& b, std::size_t at) {
  return static_cast<DWORD>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
                            static_cast<unsigned char>(b[at + 2]) << 16 |
                            static_cast<DWORD>(static_cast<unsigned char>(b[at + 3])) << 24);
}
ULONGLONG Le64(const std::string& b, std::size_t at) { return Le32(b, at) | ULONGLONG{Le32(b, at + 4)} << 32; }
void Put32(std::string& b, std::size_t at, DWORD v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>(v >> (8 * k));
}
void Put64(std::string& b, std::size_t at, ULONGLONG v) {
  Put32(b, at, static_cast<DWORD>(v));
  Put32(b, at + 4, static_cast<DWORD>(v >> 32));
}
DWORD Crc(const std::string& b, std::size_t at, std::size_t n, DWORD crc = 0) {
  return static_cast<DWORD>(crc32(crc, reinterpret_cast<const Bytef*>(b.data() + at), static_cast<uInt>(n)));
}

// The file's checksums, read here from the bytes: each holds or not. With
// `fix`, each is first set to what its bytes give (the words' and records'
// own, then their sections', then the header's).
struct Reading {
  bool header = false;
  bool section[6] = {};           // 1, 2 and 4 carry a checksum
  std::vector<bool> word, record; // by word number and by slot
  bool all = false;               // every checksum holds, the length too
};

Reading Read(std::string& b, bool fix) {
  Reading r;
  if (b.size() < 64) return r;
  const std::size_t sections = Le32(b, 12);
  if (sections > 64 || 64 + 24 * sections > b.size()) return r;
  struct Section {
    std::size_t entry = 0;
    ULONGLONG offset = 0, length = 0;
    int seen = 0;
  } place[6];
  for (std::size_t s = 0; s < sections; ++s) {
    const std::size_t e = 64 + 24 * s;
    const DWORD id = Le32(b, e);
    const ULONGLONG offset = Le64(b, e + 8), length = Le64(b, e + 16);
    if (id < 1 || id > 5) continue;
    if (++place[id].seen == 1 && offset <= b.size() && length <= b.size() - offset)
      place[id] = {e, offset, length, 1};
    else
      place[id].length = ~0ull;  // twice, or outside the file: no section
  }
  auto usable = [&](int id) { return place[id].seen == 1 && place[id].length != ~0ull; };
  // The entries of `table` (from `first`, `entrySize` bytes each) name
  // pieces of `data` (offset 8 bytes, length 4) and their checksum at `crcAt`.
  auto inner = [&](int table, int data, std::size_t first, std::size_t count, std::size_t entrySize,
                   std::size_t crcAt, std::vector<bool>& ok) {
    if (!usable(table) || !usable(data)) return;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t e = place[table].offset + first + i * entrySize;
      if (e + entrySize > place[table].offset + place[table].length) return;
      const ULONGLONG offset = Le64(b, e);
      const DWORD length = Le32(b, e + 8);
      if (offset > place[data].length || length > place[data].length - offset) {
        ok.push_back(false);
        continue;
      }
      const DWORD crc = Crc(b, static_cast<std::size_t>(place[data].offset + offset), length);
      if (fix && length > 0) Put32(b, e + crcAt, crc);
      ok.push_back(length == 0 || Le32(b, e + crcAt) == crc);  // 0: a slot without a document
    }
  };
  if (usable(1) && place[1].length >= 8) inner(1, 3, 8, Le32(b, place[1].offset), 24, 16, r.word);
  if (usable(4)) inner(4, 5, 0, place[4].length / 16, 16, 12, r.record);
  for (int id : {1, 2, 4}) {
    if (!usable(id)) continue;
    const DWORD crc = Crc(b, place[id].offset, place[id].length);
    if (fix) Put32(b, place[id].entry + 4, crc);
    r.section[id] = Le32(b, place[id].entry + 4) == crc;
  }
  if (fix) Put64(b, 48, b.size());
  const DWORD header = Crc(b, 64, 24 * sections, Crc(b, 0, 60));
  if (fix) Put32(b, 60, header);
  r.header = Le32(b, 60) == header;
  r.all = r.header && Le64(b, 48) == b.size() && r.section[1] && r.section[2] && r.section[4] && usable(3) &&
          usable(5) && std::find(r.word.begin(), r.word.end(), false) == r.word.end() &&
          std::find(r.record.begin(), r.record.end(), false) == r.record.end();
  return r;
}

struct Answer {
  bool refused = false;
  Items items;
};

Answer Ask(CDocServer& server, const char* query) {
  concorda::CQueryBudget::Limits limits;
  limits.time = std::chrono::hours(1);  // the sanitizers and a loaded machine must not refuse a query
  concorda::CQueryBudget budget(limits);
  CWordQuery prepared(query, budget);
  Answer a;
  a.refused = !server.FindDocs(prepared, a.items);
  return a;
}

std::string Show(const Answer& a) {
  if (a.refused) return "refused";
  std::string s;
  for (DWORD d : a.items) s += std::to_string(d) + " ";
  return "{" + s + "}";
}

struct Base {
  std::string path, companion;
  std::string sound;  // the file the base wrote
  GUID guid{0x51, 0x52, 0x53, {1, 2, 3, 4, 5, 6, 7, 8}};
  ULONGLONG stamp = 0;
  DWORD slots = 0;
  Answer without[kQueryCount];
};

Base& TheBase() {
  static Base* base = [] {
    auto* b = new Base;
    b->path = fuzz::ScratchDir() + "/positions.vq";
    b->companion = concorda::PositionsPath(b->path);
    std::filesystem::remove(b->path);
    std::filesystem::remove(b->companion);
    std::uint32_t x = 4242;
    auto pick = [&x](std::size_t n) {
      x = x * 1664525u + 1013904223u;
      return (x >> 8) % n;
    };
    {
      CDocServer writer;
      FUZZ_REQUIRE(writer.Init(b->path.c_str(), &b->guid, CFile::modeCreate | CFile::modeReadWrite),
                   "cannot create the base");
      for (int d = 0; d < kDocuments; ++d) {
        std::string text = pick(3) == 0 ? "<P>" : "";
        const int n = 4 + static_cast<int>(pick(16));
        for (int k = 0; k < n; ++k) {
          if (k) text += kBetween[pick(sizeof kBetween / sizeof kBetween[0])];
          std::string w = kWords[pick(sizeof kWords / sizeof kWords[0])];
          if (pick(8) == 0 && w.size() > 3) w.insert(2, "<B>");  // a tag between the letters
          text += w;
        }
        if (pick(3) == 0) text += "</P>";
        CMemFile file(4096);
        file.Write(text.data(), static_cast<UINT>(text.size()));
        file.SeekToBegin();
        _FILEITEM* item = MakeFileItem(("D" + std::to_string(d) + ".HTM").c_str());
        writer.AddFile(file, item, "", 2);
        CFileServer::FreeFileItem(item);
      }
    }
    b->sound = fuzz::ReadFileBytes(b->companion);
    FUZZ_REQUIRE(b->sound.size() >= 64, "the base wrote no positions file");
    FUZZ_REQUIRE(Read(b->sound, false).all, "the base's own positions file fails a checksum read here");
    b->stamp = Le64(b->sound, 32);
    b->slots = Le32(b->sound, 40);
    if (const char* keep = std::getenv("VAMU_FUZZ_SOUND_FILE")) fuzz::WriteFileBytes(keep, b->sound);

    // The answers without the file: the documents read and scanned.
    std::filesystem::remove(b->companion);
    {
      CDocServer scan;
      FUZZ_REQUIRE(scan.Init(b->path.c_str(), nullptr, CFile::modeRead), "cannot open the base");
      FUZZ_REQUIRE(scan.PositionsState() == CPositionsFile::State::kMissing, "a positions file where none is");
      bool found = false;
      for (std::size_t q = 0; q < kQueryCount; ++q) {
        b->without[q] = Ask(scan, kQueries[q]);
        found = found || !b->without[q].items.empty();
      }
      FUZZ_REQUIRE(found, "no query finds anything: the harness would compare nothing");
    }
    // The sound file is used, and changes nothing.
    fuzz::WriteFileBytes(b->companion, b->sound);
    CDocServer used;
    FUZZ_REQUIRE(used.Init(b->path.c_str(), nullptr, CFile::modeRead), "cannot open the base");
    FUZZ_REQUIRE(used.PositionsState() == CPositionsFile::State::kUsable, "the base's own positions file is not used");
    for (std::size_t q = 0; q < kQueryCount; ++q)
      FUZZ_REQUIRE(Show(Ask(used, kQueries[q])) == Show(b->without[q]),
                   "the sound file changes the answer to " + fuzz::Shown(kQueries[q]));
    return b;
  }();
  return *base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (fuzz::QuietMessages(), true);
  (void)quiet;
  Base& b = TheBase();
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((flags & 1) && file.size() >= 64) {
    file.replace(16, 28, b.sound, 16, 28);
    const std::size_t sections = Le32(file, 12);
    if (sections <= 64 && 64 + 24 * sections <= file.size())
      Put32(file, 60, Crc(file, 64, 24 * sections, Crc(file, 0, 60)));
  }
  const Reading reading = Read(file, (flags & 2) != 0);
  fuzz::WriteFileBytes(b.companion, file);

  // The file alone: what is usable passed its checks; every word's
  // postings and every slot's record decode or are called damaged, and
  // those whose checksum fails are.
  CPositionsFile positions;
  if (positions.Open(b.companion, b.guid, b.stamp, b.slots) == CPositionsFile::State::kUsable) {
    FUZZ_REQUIRE(reading.header, "a file whose header fails its checksum is usable");
    for (int id : {1, 2, 4})
      FUZZ_REQUIRE(reading.section[id], "a file whose section " + std::to_string(id) + " fails its checksum is usable");
    std::vector<BYTE> postings;
    std::vector<DWORD> ordinals;
    for (std::size_t w = 0; w < positions.WordCount(); ++w) {
      bool read = false;
      try {
        positions.ReadPostings(w, postings);
        read = true;
        concorda::CPostingReader reader(postings.data(), postings.size());
        concorda::Posting p;
        while (reader.Next(p)) concorda::DecodeOrdinals(p, ordinals);
      } catch (const concorda::CPositionsDamaged&) {
      }
      FUZZ_REQUIRE(!read || (w < reading.word.size() && reading.word[w]),
                   "the postings of word " + std::to_string(w) + " are read, but fail their checksum");
    }
    for (DWORD slot = 0; slot < b.slots + 2; ++slot) {
      concorda::DocRecord record;
      bool read = false;
      try {
        read = positions.ReadDocument(slot, record);
      } catch (const concorda::CPositionsDamaged&) {
      }
      FUZZ_REQUIRE(!read || (slot < reading.record.size() && reading.record[slot]),
                   "the record of slot " + std::to_string(slot) + " is read, but fails its checksum");
    }
  }
  positions.Close();

  // The base with this file beside it.
  CDocServer server;
  FUZZ_REQUIRE(server.Init(b.path.c_str(), nullptr, CFile::modeRead), "the base does not open beside this file");
  for (std::size_t q = 0; q < kQueryCount; ++q) {
    const Answer got = Ask(server, kQueries[q]);
    if (!reading.all)
      FUZZ_REQUIRE(Show(got) == Show(b.without[q]), "beside a file that fails a checksum, " + fuzz::Shown(kQueries[q]) +
                                                        " finds " + Show(got) + ", without the file " +
                                                        Show(b.without[q]));
  }
  return 0;
}
