// The index's system files inside a container: the key table, the word
// table and the index files, as a damaged or hostile base may hold them.
//
// Input: the key table, the word table and up to four index files (numbers
// 0 to 3), separated by "||SYS||". The harness stores them, raw, beside four
// fixed documents in a fresh container and opens it as an indexed base.
//
// Properties:
//  - the words come out strictly ascending, however damaged the table;
//  - a sound word table (counts and lengths agreeing, words ascending) gives
//    exactly its words, and each word exactly the topics of its block in the
//    index file it names (in item order; none when the block does not lie in
//    the file), as read here apart from the index;
//  - a query for one such word finds exactly the items of its topics; a
//    prefix pattern "P*" the items of every word that begins with P; a
//    suffix pattern "*S" those of every word ending with S whose first
//    S[0] begins the S (the pattern test takes the first occurrence);
//  - a key finds exactly the items listed under its hash in the key table
//    as read here (no key when the pairs do not fit; the keys whose lists
//    are whole when only lists are cut);
//  - every query result is ascending without repeats;
//  - when `vamubase verify --index` finds the base healthy, its index is the
//    one the four documents make (the same words, each with the same
//    topics, as a base built from them by the index itself holds), and every
//    key names one of the documents.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "concorda/query.h"
#include "concorda/system_files.h"
#include "concorda/word_tokenizer.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/verify_tool.h"
#include "platform/cp1250.h"

namespace {

constexpr std::string_view kSeparator = "||SYS||";
constexpr DWORD kItemMask = 0x00FFFFFF;
const char* const kKeys[] = {"D97483", "D97483OO", "PRAWOPUBLICZNE", "K1", "", "O1100001"};

DWORD Word(std::string_view b, std::size_t at) {
  auto u = [&](std::size_t k) { return static_cast<DWORD>(static_cast<unsigned char>(b[at + k])); };
  return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

using Items = std::vector<DWORD>;

Items Sorted(Items v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

// A sound word table read here: (word, reference) in file order.
std::optional<std::vector<std::pair<std::string, DWORD>>> SoundWordTable(std::string_view f) {
  if (f.size() < 8) return std::nullopt;
  const std::uint64_t n = Word(f, 0), s = Word(f, 4);
  if (8 + 4 * n + s != f.size()) return std::nullopt;
  std::vector<std::pair<std::string, DWORD>> words;
  std::size_t at = 8 + 4 * n;
  for (std::uint64_t k = 0; k < n; ++k) {
    std::size_t nul = f.find('\0', at);
    if (nul == std::string_view::npos) return std::nullopt;
    std::string w(f.substr(at, nul - at));
    // Ascending in unsigned bytes, no repeats.
    if (!words.empty() && !(std::string_view(words.back().first) < std::string_view(w)))
      return std::nullopt;
    words.emplace_back(std::move(w), Word(f, 8 + 4 * k));
    at = nul + 1;
  }
  if (at != f.size()) return std::nullopt;
  return words;
}

// The topics of an index file's slot, read here: the slot table ends where
// the first offset points, each block behind it holds a count and topics.
std::vector<DWORD> BlockTopics(const std::vector<std::string>& files, DWORD ref) {
  const DWORD number = ref & 0xFFFF, slot = ref >> 16;
  if (ref == 0xFFFFFFFF || number >= files.size()) return {};
  std::string_view f = files[number];
  if (f.size() < 4) return {};
  const std::uint64_t first = Word(f, 0);
  if (4ull * slot + 4 > first || 4ull * slot + 4 > f.size()) return {};
  const std::uint64_t offset = Word(f, 4 * slot);
  if (offset < first || offset + 4 > f.size()) return {};
  const std::uint64_t count = Word(f, offset);
  if (offset + 4 + 4 * count > f.size()) return {};
  std::vector<DWORD> topics;
  for (std::uint64_t i = 0; i < count; ++i) topics.push_back(Word(f, offset + 4 + 4 * i));
  std::stable_sort(topics.begin(), topics.end(),
                   [](DWORD a, DWORD b) { return (a & kItemMask) < (b & kItemMask); });
  return topics;
}

// The key table read here: hash -> items.
std::map<DWORD, Items> KeyTable(std::string_view f) {
  std::map<DWORD, Items> keys;
  if (f.size() < 4) return keys;
  const std::uint64_t n = Word(f, 0);
  if (4 + 8 * n > f.size()) return keys;
  std::uint64_t at = 4 + 8 * n;
  for (std::uint64_t k = 0; k < n; ++k) {
    const DWORD hash = Word(f, 4 + 8 * k), count = Word(f, 8 + 8 * k);
    if (at + 4ull * count > f.size()) break;
    for (DWORD i = 0; i < count; ++i, at += 4) keys[hash].push_back(Word(f, at));
  }
  return keys;
}

Items Query(CDocServer& base, const std::string& query) {
  WORD first = 0;
  CDocServer::FindHandle* h = base.FindFirstDoc(query.c_str(), &first, nullptr);
  if (h == CDocServer::NoFind()) return {};
  Items all = h->aItems;
  CDocServer::FindClose(h);
  FUZZ_REQUIRE(std::adjacent_find(all.begin(), all.end(), std::greater_equal<DWORD>()) == all.end(),
               "the result of " + fuzz::Shown(query, 60) + " is not ascending without repeats");
  return all;
}

// A word the query language takes as it stands: word characters only, no
// lower-case letter, and an acceptable operand.
bool Queryable(const std::string& w) {
  if (w.empty()) return false;
  for (unsigned char c : w)
    if (!concorda::IsWordChar(c) || cp1250::ToUpper(c) != c) return false;
  return concorda::IsAcceptableOperand(w);
}

// The four documents every container of the harness holds, slots 0 to 3.
const std::pair<const char*, const char*> kDocuments[] = {
    {"D97483D97483.HTM", "<HTML><BODY>Art. 1. Ustawa o prawie KODEKS</BODY></HTML>"},
    {"D97483O.HTM", "O1100001"},
    {"O1100001.HTM", "<META KEYS=\"D97483 O=SENT\">wyrok"},
    {"SPISDZU.TOC", "1 -id \"Dziennik\""},
};

// A base of the four documents indexed by the index itself: what a sound
// index of them holds.
CDocServer& Reference() {
  static CDocServer* base = [] {
    const std::string path = fuzz::ScratchDir() + "/reference.vq";
    std::filesystem::remove(path);
    GUID guid{2, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};
    {
      CDocServer writer;
      FUZZ_REQUIRE(writer.Init(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite), "cannot create " + path);
      for (const auto& [name, text] : kDocuments) {
        CMemFile file(4096);
        file.Write(text, static_cast<UINT>(std::strlen(text)));
        file.SeekToBegin();
        _FILEITEM* item = MakeFileItem(name);
        writer.AddFile(file, item, nullptr, 0);
        CFileServer::FreeFileItem(item);
      }
      writer.Close();
    }
    auto* b = new CDocServer;
    FUZZ_REQUIRE(b->Init(path.c_str(), nullptr, CFile::modeRead), "cannot open " + path);
    return b;
  }();
  return *base;
}

void Store(CFileServer& fs, const std::string& name, std::string_view bytes, WORD descriptorSize) {
  CMemFile file(4096);
  if (!bytes.empty()) file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  file.SeekToBegin();
  _FILEITEM* item = MakeFileItem(name.c_str(), descriptorSize);
  FUZZ_REQUIRE(item && fs.AddFile(file, item, 0) != CFileServer::kNoItem, "cannot store " + name);
  CFileServer::FreeFileItem(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (fuzz::QuietMessages(), true);
  (void)quiet;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (;;) {
    std::size_t at = input.find(kSeparator);
    parts.emplace_back(input.substr(0, at));
    if (at == std::string_view::npos) break;
    input.remove_prefix(at + kSeparator.size());
  }
  parts.resize(std::max<std::size_t>(parts.size(), 2));
  if (parts.size() > 6) parts.resize(6);
  const std::string& keyTable = parts[0];
  const std::string& wordTable = parts[1];
  const std::vector<std::string> indexFiles(parts.begin() + 2, parts.end());

  static const std::string path = fuzz::ScratchDir() + "/index.vq";
  std::filesystem::remove(path);
  {
    GUID guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    CFileServer fs;
    FUZZ_REQUIRE(fs.Init(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite), "cannot create " + path);
    for (const auto& [name, text] : kDocuments) Store(fs, name, text, 0);
    Store(fs, concorda::kKeyTableName, keyTable, kSystemItemSize);
    Store(fs, concorda::kWordTableName, wordTable, kSystemItemSize);
    for (std::size_t i = 0; i < indexFiles.size(); ++i)
      Store(fs, concorda::IndexFileName(static_cast<DWORD>(i)), indexFiles[i], kSystemItemSize);
    fs.Close();
  }
  const bool healthy = fuzz::VerifySaysHealthy(path, true);
  // VAMU_FUZZ_SHOW=1 tells what verify said, for looking into an input by hand.
  static const bool show = std::getenv("VAMU_FUZZ_SHOW") != nullptr;
  if (show) std::fprintf(stderr, "verify --index: %s\n", healthy ? "healthy" : "damaged");
  CDocServer base;
  FUZZ_REQUIRE(base.Init(path.c_str(), nullptr, CFile::modeRead), "the container made here does not open");
  if (healthy) {
    CDocServer& reference = Reference();
    FUZZ_REQUIRE(base.GetWordCount() == reference.GetWordCount(),
                 "verify --index finds the index healthy, but it holds " + std::to_string(base.GetWordCount()) +
                     " words, the documents " + std::to_string(reference.GetWordCount()));
    for (DWORD i = 0; i < base.GetWordCount(); ++i) {
      FUZZ_REQUIRE(std::strcmp(base.GetWordAt(i), reference.GetWordAt(i)) == 0,
                   "verify --index finds the index healthy, but it holds the word " + fuzz::Shown(base.GetWordAt(i), 40));
      FUZZ_REQUIRE(base.GetWordTopics(i) == reference.GetWordTopics(i),
                   "verify --index finds the index healthy, but the topics of " + fuzz::Shown(base.GetWordAt(i), 40) +
                       " are not the documents'");
    }
  }

  const DWORD count = base.GetWordCount();
  for (DWORD i = 1; i < count; ++i)
    FUZZ_REQUIRE(std::strcmp(base.GetWordAt(i - 1), base.GetWordAt(i)) < 0,
                 "the words are not strictly ascending at " + std::to_string(i));

  if (auto words = SoundWordTable(wordTable)) {
    FUZZ_REQUIRE(count == words->size(), "a sound word table gives " + std::to_string(count) + " words, not " +
                                             std::to_string(words->size()));
    std::map<std::string, Items> itemsOf;
    for (DWORD i = 0; i < count; ++i) {
      const auto& [word, ref] = (*words)[i];
      FUZZ_REQUIRE(word == base.GetWordAt(i), "word " + std::to_string(i) + " is not the table's");
      std::vector<DWORD> topics = BlockTopics(indexFiles, ref);
      if (i < 64)
        FUZZ_REQUIRE(base.GetWordTopics(i) == topics, "the topics of " + fuzz::Shown(word, 40) +
                                                          " are not those of its block");
      Items items;
      for (DWORD t : topics) items.push_back(t & kItemMask);
      itemsOf[word] = Sorted(items);
    }
    int queries = 0;
    for (const auto& [word, items] : itemsOf) {
      if (!Queryable(word) || ++queries > 16) continue;
      FUZZ_REQUIRE(Query(base, word) == items, "the query " + fuzz::Shown(word, 40) + " finds other items");
      // The first letters, and the end, as patterns.
      const std::string prefix = word.substr(0, 2), suffix = word.substr(word.size() > 2 ? word.size() - 2 : 0);
      Items byPrefix, bySuffix;
      for (const auto& [w, its] : itemsOf) {
        if (w.compare(0, prefix.size(), prefix) == 0) byPrefix.insert(byPrefix.end(), its.begin(), its.end());
        std::size_t first = w.find(suffix[0]);
        if (w.size() >= suffix.size() && w.compare(w.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            first != std::string::npos && w.compare(first, suffix.size(), suffix) == 0)
          bySuffix.insert(bySuffix.end(), its.begin(), its.end());
      }
      FUZZ_REQUIRE(Query(base, prefix + "*") == Sorted(byPrefix),
                   "the pattern " + fuzz::Shown(prefix, 40) + "* finds other items");
      FUZZ_REQUIRE(Query(base, "*" + suffix) == Sorted(bySuffix),
                   "the pattern *" + fuzz::Shown(suffix, 40) + " finds other items");
    }
  } else {
    // A damaged table: the queries must still answer in order.
    for (DWORD i = 0; i < count && i < 8; ++i) {
      base.GetWordTopics(i);
      Query(base, base.GetWordAt(i));
    }
    Query(base, "*A*");
  }

  const std::map<DWORD, Items> keys = KeyTable(keyTable);
  for (const char* key : kKeys) {
    auto found = keys.find(CFileServer::MakeHash(key));
    Items expected = found == keys.end() ? Items{} : Sorted(found->second);
    WORD first = 0;
    CDocServer::FindHandle* h = base.FindFirstDocFromKey(key, &first);
    Items got;
    if (h != CDocServer::NoFind()) {
      got.push_back(first);
      WORD next;
      while (CDocServer::FindNextDoc(h, &next)) got.push_back(next);
    }
    // The handle hands out the low 16 bits of each item.
    for (DWORD& e : expected) e &= 0xFFFF;
    FUZZ_REQUIRE(got == expected, "the key " + std::string(key) + " finds other items");
    if (healthy)
      for (DWORD item : got)
        FUZZ_REQUIRE(item < std::size(kDocuments), "verify --index finds the index healthy, but the key " +
                                                       std::string(key) + " names slot " + std::to_string(item));
  }
  return 0;
}
