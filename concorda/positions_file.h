// The positions file of a base, read for queries (format: positions_format.h).
// Open checks everything small at once (header, tie to the base, section
// table, the words, the word ends, the document table and the CRC of every
// document record); the postings of a word are checked (length, CRC, every
// varint) when a query first reads them, a record's varints when a query
// reads it. Damage found then is thrown as CPositionsDamaged, so that the
// query can fall back to reading documents.
//
// Threads: Open once; afterwards every const member may be called from many
// threads at once (postings are read with pread, and those that queries read
// are kept under a mutex; the words, word ends and document records are held
// in memory).
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "concorda/bytes.h"
#include "platform/file_at.h"
#include "platform/kept_memory.h"
#include "platform/large_buffer.h"
#include "platform/windows_types.h"

namespace concorda {

class CPositionsDamaged : public std::exception {
 public:
  explicit CPositionsDamaged(std::string what) : m_what(std::move(what)) {}
  const char* what() const noexcept override { return m_what.c_str(); }

 private:
  std::string m_what;
};
// Throws CPositionsDamaged: out of line, so that the decoders a phrase runs
// for every place stay small enough to be inlined where they are used.
[[noreturn]] void ThrowPositionsDamaged(const char* what);

// One document's record: its counts, joins and split words. The split
// words are decoded as far as SplitAt is asked (most phrases need one or
// two of them, or none), one at a time: a phrase asks for ascending places,
// so only the split word at or after the place asked last is kept, and a
// place before it starts the list again.
struct DocRecord {
  DWORD textTokens = 0;
  DWORD markupPieces = 0;
  const BYTE* joined = nullptr;  // (textTokens + markupPieces + 7) / 8 bytes
  bool IsJoined(DWORD ordinal) const {
    return ordinal < textTokens + markupPieces && (joined[ordinal / 8] >> (ordinal % 8) & 1);
  }
  // The byte lengths of the pieces (at least two) of the split word at
  // `ordinal`; empty when it is none. Valid until the next call. Throws
  // CPositionsDamaged when the split words decoded on the way do not decode.
  std::span<const DWORD> SplitAt(DWORD ordinal);

 private:
  friend class CPositionsFile;
  void Start(const BYTE* splits, const BYTE* end, DWORD count);
  void Restart();
  void DecodeNext();

  const BYTE* m_first = nullptr;  // the split words' bytes
  const BYTE* m_end = nullptr;
  DWORD m_count = 0;              // how many there are
  const BYTE* m_next = nullptr;  // the first split word not decoded yet
  DWORD m_left = 0;              // split words not decoded yet
  // The split word decoded last (when m_decoded): every one before it lies
  // before the place asked last, m_asked.
  bool m_decoded = false;
  DWORD m_ordinal = 0;
  DWORD m_pieceCount = 0;
  const BYTE* m_pieceBytes = nullptr;
  DWORD m_asked = 0;
  std::vector<DWORD> m_pieces;  // of the word SplitAt named last
};

// One document of a word's postings: its slot and its ordinals (varints).
struct Posting {
  DWORD slot = 0;
  const BYTE* ordinals = nullptr;
  const BYTE* ordinalsEnd = nullptr;
};
// Walks postings bytes; throws CPositionsDamaged when they do not decode.
class CPostingReader {
 public:
  CPostingReader(const BYTE* data, std::size_t length) : m_p(data), m_end(data + length) {}
  bool Next(Posting& out) {
    if (m_p == m_end) return false;
    DWORD delta = 0, bytes = 0;
    if (!GetVarint(m_p, m_end, delta) || !GetVarint(m_p, m_end, bytes) || bytes == 0 ||
        bytes > static_cast<std::size_t>(m_end - m_p))
      ThrowPositionsDamaged("postings do not decode");
    if (!m_first && (delta == 0 || m_slot > 0xFFFFFFFFu - delta)) ThrowPositionsDamaged("postings out of order");
    m_slot = m_first ? delta : m_slot + delta;
    m_first = false;
    out.slot = m_slot;
    out.ordinals = m_p;
    out.ordinalsEnd = m_p + bytes;
    m_p += bytes;
    return true;
  }

 private:
  const BYTE* m_p;
  const BYTE* m_end;
  DWORD m_slot = 0;
  bool m_first = true;
};
// Walks the ordinals of a posting one at a time, ascending (each but the
// first is stored minus the one before); throws CPositionsDamaged when they
// do not decode. A phrase reads a document's places only as far as it needs.
class COrdinalReader {
 public:
  COrdinalReader() = default;
  explicit COrdinalReader(const Posting& p) : m_p(p.ordinals), m_end(p.ordinalsEnd) {}
  bool Next(DWORD& out) {
    if (m_p >= m_end) return false;
    DWORD delta = 0;
    if (!GetVarint(m_p, m_end, delta)) ThrowPositionsDamaged("ordinals do not decode");
    if (!m_first && (delta == 0 || m_value > 0xFFFFFFFFu - delta)) ThrowPositionsDamaged("ordinals out of order");
    m_value = m_first ? delta : m_value + delta;
    m_first = false;
    out = m_value;
    return true;
  }

 private:
  const BYTE* m_p = nullptr;
  const BYTE* m_end = nullptr;
  DWORD m_value = 0;
  bool m_first = true;
};
// Decodes the ordinals of a posting into `out`; throws when they do not decode.
void DecodeOrdinals(const Posting& p, std::vector<DWORD>& out);
// How many ordinals of a posting lie below `limit` (the words of a document
// whose word count is `limit`); throws when they do not decode.
DWORD CountOrdinalsBelow(const Posting& p, DWORD limit);

class CPositionsFile {
 public:
  enum class State { kClosed, kMissing, kStale, kDamaged, kUsable };

  CPositionsFile() = default;
  CPositionsFile(const CPositionsFile&) = delete;
  CPositionsFile& operator=(const CPositionsFile&) = delete;

  // Opens the file at `path` for the base of `guid` whose state has `stamp`
  // and `slots` slots. The state says what came of it; *why (when given)
  // says what is wrong in words.
  State Open(const std::string& path, const GUID& guid, ULONGLONG stamp, DWORD slots, std::string* why = nullptr);
  void Close();
  State GetState() const { return m_state; }
  bool IsUsable() const { return m_state == State::kUsable; }
  DWORD SlotCount() const { return m_slots; }

  // --- the words, ascending ---
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  std::size_t WordCount() const { return m_nWords; }
  std::string_view Word(std::size_t i) const;
  std::size_t Find(std::string_view word) const;
  // [first, last) of the words that begin with `prefix`.
  std::pair<std::size_t, std::size_t> PrefixRange(std::string_view prefix) const;
  // [first, last) of the word-ends order whose words end with `suffix`;
  // WordEnd(k) is the word number at place k of that order.
  std::pair<std::size_t, std::size_t> SuffixRange(std::string_view suffix) const;
  std::size_t WordEnd(std::size_t k) const;
  DWORD DocumentCount(std::size_t word) const;

  // The postings of a word, checked. Throws CPositionsDamaged.
  void ReadPostings(std::size_t word, std::vector<BYTE>& out) const;
  // The same into `out`, PostingsLength(word) bytes long.
  DWORD PostingsLength(std::size_t word) const;
  void ReadPostingsInto(std::size_t word, BYTE* out) const;
  // The same, for queries: read and checked once, then kept in memory (up to
  // a bound) and shared by the queries that follow.
  CKept<BYTE> Postings(std::size_t word) const;
  // The slots of the documents that hold the word as a word (its first
  // place there lies below the document's word count), ascending; needs
  // the word counts (HasWordCounts). Taken from its postings once, then
  // kept with them. Throws CPositionsDamaged.
  CKept<DWORD> WordSlots(std::size_t word) const;
  // The record of a slot; false when the slot holds no document. Throws
  // CPositionsDamaged when it is damaged.
  bool ReadDocument(DWORD slot, DocRecord& out) const;

  // Called before reading the record of slots[i], in a walk through
  // `slots`: asks the processor early for the records of the documents a
  // few places ahead (their table entries first, then the records), a hint
  // only. The records of a query's candidates lie all over memory, and
  // their cache misses overlap instead of coming one after another.
  void PrefetchAhead(std::span<const DWORD> slots, std::size_t i) const;

  // The raw bytes of a document's record, checked (for copying into a new
  // file); false when the slot holds no document.
  bool DocumentBytes(DWORD slot, const BYTE*& data, std::size_t& length) const;

  // The word counts of the documents (section 8): with them a word's
  // postings tell in which documents it stands as a word and how often.
  // False when the file has none (written by an earlier version) or a
  // damaged one (WordCountsProblem says how); the file is usable all the same.
  bool HasWordCounts() const { return m_hasWordCounts; }
  const std::string& WordCountsProblem() const { return m_wordCountsProblem; }
  DWORD WordCountOf(DWORD slot) const;
  // Whether the slot has a document record (a document read when the file
  // was written).
  bool HasRecord(DWORD slot) const;

  // A section that the file may hold or not (the lemma and fold sections of
  // word_forms.h), read and checked against its checksum. False when the
  // file has none (*why empty) or it is damaged (*why says how).
  bool ReadOptionalSection(DWORD id, std::vector<BYTE>& out, std::string* why) const;

 private:
  State Fail(State state, const std::string& what, std::string* why);
  std::string_view WordEndText(std::size_t k) const { return Word(WordEnd(k)); }

  CFileAt m_file;
  State m_state = State::kClosed;
  DWORD m_slots = 0;
  std::size_t m_nWords = 0;
  // The sections held in memory, in one block (of huge pages when it is
  // large: a query reads the records of its candidates all over it).
  CLargeBuffer m_held;
  std::span<const BYTE> m_words;    // section 1
  std::span<const BYTE> m_ends;     // section 2
  std::span<const BYTE> m_docTable; // section 4
  std::span<const BYTE> m_docs;     // section 5
  ULONGLONG m_postingsOffset = 0;
  ULONGLONG m_postingsLength = 0;
  struct OptionalSection {
    DWORD id = 0, crc = 0;
    ULONGLONG offset = 0, length = 0;
  };
  std::vector<OptionalSection> m_optional;  // sections beyond the five every file has
  std::vector<BYTE> m_wordCounts;  // section 8, checked at open
  bool m_hasWordCounts = false;
  std::string m_wordCountsProblem;
  const BYTE* m_entries = nullptr;   // into m_words
  const BYTE* m_textOffsets = nullptr;
  const BYTE* m_text = nullptr;
  std::size_t m_textLength = 0;
  // The record of each slot whose CRC is right (checked at Open; a damaged
  // one is checked again, and refused, when a query reads it).
  std::unique_ptr<std::atomic<bool>[]> m_docChecked;
  // Postings read and checked by queries, and the word slots taken from
  // them, kept for the next ones in memory of their own (kept_memory.h);
  // emptied whole when they would pass kPostingsCacheBytes together.
  static constexpr std::size_t kPostingsCacheBytes = 32u << 20;
  mutable std::mutex m_cacheMutex;
  mutable CKeptMemory m_keptMemory;
  mutable std::unordered_map<std::size_t, CKept<BYTE>> m_postingsCache;
  mutable std::unordered_map<std::size_t, CKept<DWORD>> m_slotsCache;
  mutable std::size_t m_cacheBytes = 0;
  // Memory for `count` items of T to be kept (m_cacheMutex not held).
  template <class T>
  std::shared_ptr<T> TakeKept(std::size_t count) const;
  // Keeps `value` for the word in `cache` (m_cacheMutex held), unless
  // another query kept it first or it alone would pass the bound; both
  // caches are emptied first when it would pass it with them.
  template <class T>
  void Keep(std::unordered_map<std::size_t, CKept<T>>& cache, std::size_t word, const CKept<T>& value) const;
  void EmptyCaches() const;  // m_cacheMutex held
};

}  // namespace concorda
