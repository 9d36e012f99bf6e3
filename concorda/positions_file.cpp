#include "concorda/positions_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "concorda/bytes.h"
#include "concorda/positions_format.h"
#include "concorda/word_forms.h"
#include "concorda/suffix_index.h"

namespace concorda {

void DocRecord::Start(const BYTE* splits, const BYTE* end, DWORD count) {
  m_first = splits;
  m_end = end;
  m_count = count;
  if (count == 0 && splits != end) throw CPositionsDamaged("the record of a document is longer than it says");
  Restart();
}

void DocRecord::Restart() {
  m_next = m_first;
  m_left = m_count;
  m_decoded = false;
  m_asked = 0;
}

void ThrowPositionsDamaged(const char* what) { throw CPositionsDamaged(what); }

inline void DocRecord::DecodeNext() {
  const BYTE* p = m_next;
  DWORD delta = 0, count = 0;
  if (!GetVarint(p, m_end, delta) || (m_decoded && delta == 0) || !GetVarint(p, m_end, count) || count < 2 ||
      count > static_cast<std::size_t>(m_end - p))
    ThrowPositionsDamaged("the split words do not decode");
  const DWORD value = m_decoded ? m_ordinal + delta : delta;
  if (value < delta || value >= textTokens) ThrowPositionsDamaged("a split word lies outside the document");
  m_decoded = true;
  m_ordinal = value;
  m_pieceCount = count;
  m_pieceBytes = p;
  // Past the piece lengths: `count` varints, none of them 0.
  for (DWORD n = 0; n < count; ++n) {
    if (p == m_end || *p == 0) ThrowPositionsDamaged("the pieces of a split word do not decode");
    while (*p & 0x80)
      if (++p == m_end) ThrowPositionsDamaged("the pieces of a split word do not decode");
    ++p;
  }
  m_next = p;
  if (--m_left == 0 && p != m_end) ThrowPositionsDamaged("the record of a document is longer than it says");
}

std::span<const DWORD> DocRecord::SplitAt(DWORD ordinal) {
  if (ordinal < m_asked) Restart();
  m_asked = ordinal;
  while (m_left > 0 && (!m_decoded || m_ordinal < ordinal)) DecodeNext();
  if (!m_decoded || m_ordinal != ordinal) return {};
  m_pieces.clear();
  const BYTE* p = m_pieceBytes;
  for (DWORD n = 0; n < m_pieceCount; ++n) {
    DWORD length = 0;
    if (!GetVarint(p, m_end, length) || length == 0) ThrowPositionsDamaged("the pieces of a split word do not decode");
    m_pieces.push_back(length);
  }
  return std::span<const DWORD>(m_pieces.data(), m_pieces.size());
}

void DecodeOrdinals(const Posting& p, std::vector<DWORD>& out) {
  out.clear();
  COrdinalReader reader(p);
  for (DWORD value = 0; reader.Next(value);) out.push_back(value);
}

DWORD CountOrdinalsBelow(const Posting& p, DWORD limit) {
  COrdinalReader reader(p);
  DWORD count = 0;
  // Ascending: the ordinals from `limit` on are markup pieces.
  for (DWORD value = 0; reader.Next(value) && value < limit;) ++count;
  return count;
}

CPositionsFile::State CPositionsFile::Fail(State state, const std::string& what, std::string* why) {
  if (why) *why = what;
  m_file.Close();
  m_words = m_ends = m_docTable = m_docs = {};
  m_held.clear();
  m_nWords = 0;
  m_optional.clear();
  m_wordCounts.clear();
  m_hasWordCounts = false;
  m_wordCountsProblem.clear();
  m_state = state;
  return state;
}

void CPositionsFile::Close() {
  Fail(State::kClosed, "", nullptr);
  m_docChecked.reset();
  std::lock_guard<std::mutex> lock(m_cacheMutex);
  EmptyCaches();
}

CPositionsFile::State CPositionsFile::Open(const std::string& path, const GUID& guid, ULONGLONG stamp, DWORD slots,
                                           std::string* why) {
  Close();
  if (!m_file.Open(path)) {
    // A file that is there but cannot be read (another account's, without
    // read permission for this one) is no missing file to the operator.
    const int error = errno;
    return Fail(State::kMissing,
                error == ENOENT ? std::string("there is no positions file")
                                : "it cannot be opened (" + std::string(std::strerror(error)) + ")",
                why);
  }
  const ULONGLONG length = m_file.Length();
  BYTE header[kPositionsHeaderSize];
  if (length < kPositionsHeaderSize || m_file.ReadAt(0, header, sizeof header) != sizeof header)
    return Fail(State::kDamaged, "the header is cut", why);
  if (std::memcmp(header, kPositionsMagic, 8) != 0) return Fail(State::kDamaged, "it is no positions file", why);
  if (GetDword(header + 8) != kPositionsVersion) return Fail(State::kDamaged, "its format version is unknown", why);
  const DWORD sections = GetDword(header + 12);
  if (GetQword(header + 48) != length) return Fail(State::kDamaged, "its length is not the length it was written with", why);
  if (sections == 0 || sections > 64 || kPositionsHeaderSize + ULONGLONG(sections) * kPositionsSectionEntrySize > length)
    return Fail(State::kDamaged, "the section table does not fit", why);
  std::vector<BYTE> table(sections * kPositionsSectionEntrySize);
  if (m_file.ReadAt(kPositionsHeaderSize, table.data(), table.size()) != table.size())
    return Fail(State::kDamaged, "the section table is cut", why);
  if (Crc32(table.data(), table.size(), Crc32(header, 60)) != GetDword(header + 60))
    return Fail(State::kDamaged, "the header's checksum is wrong", why);
  if (GetDword(header + 44) != 0) return Fail(State::kDamaged, "it has flags this reader does not know", why);
  // The tie to the base: another base, or this base changed since.
  const BYTE* g = header + 16;
  const bool sameGuid = GetDword(g) == guid.Data1 && (g[4] | g[5] << 8) == guid.Data2 &&
                        (g[6] | g[7] << 8) == guid.Data3 && std::memcmp(g + 8, guid.Data4, 8) == 0;
  if (!sameGuid) return Fail(State::kStale, "it belongs to another base", why);
  if (GetQword(header + 32) != stamp || GetDword(header + 40) != slots)
    return Fail(State::kStale, "the base has changed since it was written", why);

  struct Place {
    ULONGLONG offset = 0, length = 0;
    DWORD crc = 0;
    bool found = false;
  } place[6];
  const ULONGLONG dataStart = kPositionsHeaderSize + ULONGLONG(sections) * kPositionsSectionEntrySize;
  for (DWORD s = 0; s < sections; ++s) {
    const BYTE* e = table.data() + s * kPositionsSectionEntrySize;
    const DWORD id = GetDword(e);
    const ULONGLONG offset = GetQword(e + 8), size = GetQword(e + 16);
    if (offset < dataStart || offset > length || size > length - offset)
      return Fail(State::kDamaged, "a section lies outside the file", why);
    if (id >= 1 && id <= 5) {
      if (place[id].found) return Fail(State::kDamaged, "a section is there twice", why);
      place[id] = {offset, size, GetDword(e + 4), true};
    } else if (id == kSectionLemmas || id == kSectionFolds || id == kSectionWordCounts) {
      for (const OptionalSection& o : m_optional)
        if (o.id == id) return Fail(State::kDamaged, "a section is there twice", why);
      m_optional.push_back({id, GetDword(e + 4), offset, size});
    }
  }
  for (DWORD id = 1; id <= 5; ++id)
    if (!place[id].found) return Fail(State::kDamaged, "a section is missing", why);

  std::size_t heldBytes = 0;
  for (DWORD id : {kSectionWords, kSectionWordEnds, kSectionDocTable, kSectionDocRecords})
    heldBytes += static_cast<std::size_t>(place[id].length);
  m_held = CLargeBuffer(heldBytes);
  std::size_t heldAt = 0;
  auto load = [&](DWORD id, std::span<const BYTE>& out, bool checked) {
    BYTE* to = m_held.data() + heldAt;
    const auto length = static_cast<std::size_t>(place[id].length);
    heldAt += length;
    out = std::span<const BYTE>(to, length);
    if (m_file.ReadAt(place[id].offset, to, length) != length) return false;
    return !checked || Crc32(to, length) == place[id].crc;
  };
  if (!load(kSectionWords, m_words, true) || !load(kSectionWordEnds, m_ends, true) ||
      !load(kSectionDocTable, m_docTable, true) || !load(kSectionDocRecords, m_docs, false))
    return Fail(State::kDamaged, "a section's checksum is wrong", why);
  m_postingsOffset = place[kSectionPostings].offset;
  m_postingsLength = place[kSectionPostings].length;

  // The words: counts that fit, offsets in order, words ascending.
  CByteReader words(m_words.data(), m_words.size());
  DWORD n = 0, textLength = 0;
  if (!words.Dword(0, n) || !words.Dword(4, textLength)) return Fail(State::kDamaged, "the words are cut", why);
  if (8 + ULONGLONG(n) * kWordEntrySize + 4 * (ULONGLONG(n) + 1) + textLength != m_words.size())
    return Fail(State::kDamaged, "the words do not fill their section", why);
  m_nWords = n;
  m_entries = m_words.data() + 8;
  m_textOffsets = m_entries + std::size_t(n) * kWordEntrySize;
  m_text = m_textOffsets + 4 * (std::size_t(n) + 1);
  m_textLength = textLength;
  if (GetDword(m_textOffsets) != 0 || GetDword(m_textOffsets + 4 * std::size_t(n)) != textLength)
    return Fail(State::kDamaged, "the word offsets are wrong", why);
  for (std::size_t i = 0; i < n; ++i) {
    const DWORD a = GetDword(m_textOffsets + 4 * i), b = GetDword(m_textOffsets + 4 * (i + 1));
    if (a >= b || b > textLength) return Fail(State::kDamaged, "the word offsets are wrong", why);
    if (i > 0 && Word(i - 1) >= Word(i)) return Fail(State::kDamaged, "the words are out of order", why);
    const BYTE* e = m_entries + i * kWordEntrySize;
    if (GetQword(e) > m_postingsLength || GetDword(e + 8) > m_postingsLength - GetQword(e) || GetDword(e + 8) == 0)
      return Fail(State::kDamaged, "postings lie outside their section", why);
  }
  if (m_ends.size() != 4 * std::size_t(n)) return Fail(State::kDamaged, "the word ends do not fit", why);
  for (std::size_t k = 0; k < n; ++k)
    if (GetDword(m_ends.data() + 4 * k) >= n) return Fail(State::kDamaged, "the word ends name no word", why);
  // The documents: one entry per slot, each record inside its section.
  if (m_docTable.size() != std::size_t(slots) * kDocEntrySize)
    return Fail(State::kDamaged, "the document table does not fit", why);
  for (DWORD d = 0; d < slots; ++d) {
    const BYTE* e = m_docTable.data() + std::size_t(d) * kDocEntrySize;
    if (GetQword(e) > m_docs.size() || GetDword(e + 8) > m_docs.size() - GetQword(e))
      return Fail(State::kDamaged, "a document record lies outside its section", why);
  }
  // The word counts: a file without them (written before they were) or
  // with damaged ones is still used for phrases; words are then read from
  // the index files.
  std::vector<BYTE> counts;
  if (ReadOptionalSection(kSectionWordCounts, counts, &m_wordCountsProblem)) {
    if (counts.size() == 4 * std::size_t(slots)) {
      m_wordCounts.swap(counts);
      m_hasWordCounts = true;
    } else {
      m_wordCountsProblem = "the word counts do not fit the slots";
    }
  }
  m_slots = slots;
  // The records' checksums at once: the records are in memory anyway, and
  // checking them all is a few milliseconds for a million documents, where
  // checking each when a query first reads it was a tenth of a phrase's
  // first run. A damaged record stays unchecked, so the query that reads
  // it finds the damage as before (and the file stays usable until then).
  m_docChecked.reset(new std::atomic<bool>[slots == 0 ? 1 : slots]);
  for (DWORD d = 0; d < slots; ++d) {
    const BYTE* e = m_docTable.data() + std::size_t(d) * kDocEntrySize;
    const DWORD length = GetDword(e + 8);
    const bool sound = length != 0 && Crc32(m_docs.data() + GetQword(e), length) == GetDword(e + 12);
    m_docChecked[d].store(sound, std::memory_order_relaxed);
  }
  {
    std::lock_guard<std::mutex> lock(m_cacheMutex);
    m_keptMemory.Prepare();
  }
  m_state = State::kUsable;
  return m_state;
}

std::string_view CPositionsFile::Word(std::size_t i) const {
  const DWORD a = GetDword(m_textOffsets + 4 * i), b = GetDword(m_textOffsets + 4 * (i + 1));
  return std::string_view(reinterpret_cast<const char*>(m_text) + a, b - a);
}

std::size_t CPositionsFile::Find(std::string_view word) const {
  std::size_t lo = 0, hi = m_nWords;
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (Word(mid) < word) lo = mid + 1;
    else hi = mid;
  }
  return lo < m_nWords && Word(lo) == word ? lo : npos;
}

std::pair<std::size_t, std::size_t> CPositionsFile::PrefixRange(std::string_view prefix) const {
  std::size_t lo = 0, hi = m_nWords;
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (Word(mid) < prefix) lo = mid + 1;
    else hi = mid;
  }
  std::size_t last = lo;
  while (last < m_nWords && Word(last).substr(0, prefix.size()) == prefix) ++last;
  return {lo, last};
}

std::size_t CPositionsFile::WordEnd(std::size_t k) const { return GetDword(m_ends.data() + 4 * k); }

std::pair<std::size_t, std::size_t> CPositionsFile::SuffixRange(std::string_view suffix) const {
  std::size_t lo = 0, hi = m_nWords;
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (CompareBackwards(WordEndText(mid), suffix) < 0) lo = mid + 1;
    else hi = mid;
  }
  std::size_t last = lo;
  while (last < m_nWords && EndsWith(WordEndText(last), suffix)) ++last;
  return {lo, last};
}

DWORD CPositionsFile::DocumentCount(std::size_t word) const { return GetDword(m_entries + word * kWordEntrySize + 12); }

void CPositionsFile::ReadPostings(std::size_t word, std::vector<BYTE>& out) const {
  out.resize(PostingsLength(word));
  ReadPostingsInto(word, out.data());
}

DWORD CPositionsFile::PostingsLength(std::size_t word) const { return GetDword(m_entries + word * kWordEntrySize + 8); }

void CPositionsFile::ReadPostingsInto(std::size_t word, BYTE* out) const {
  const BYTE* e = m_entries + word * kWordEntrySize;
  const ULONGLONG offset = GetQword(e);
  const DWORD length = GetDword(e + 8);
  if (m_file.ReadAt(m_postingsOffset + offset, out, length) != length)
    throw CPositionsDamaged("the postings of a word are cut");
  if (Crc32(out, length) != GetDword(e + 16)) throw CPositionsDamaged("the postings of a word are damaged");
}

CKept<BYTE> CPositionsFile::Postings(std::size_t word) const {
  {
    std::lock_guard<std::mutex> lock(m_cacheMutex);
    auto it = m_postingsCache.find(word);
    if (it != m_postingsCache.end()) return it->second;
  }
  const DWORD length = PostingsLength(word);
  std::shared_ptr<BYTE> bytes = TakeKept<BYTE>(length);
  ReadPostingsInto(word, bytes.get());
  CKept<BYTE> kept(std::move(bytes), length);
  std::lock_guard<std::mutex> lock(m_cacheMutex);
  Keep(m_postingsCache, word, kept);
  return kept;
}

template <class T>
std::shared_ptr<T> CPositionsFile::TakeKept(std::size_t count) const {
  std::lock_guard<std::mutex> lock(m_cacheMutex);
  return m_keptMemory.Take<T>(count);
}

template <class T>
void CPositionsFile::Keep(std::unordered_map<std::size_t, CKept<T>>& cache, std::size_t word,
                          const CKept<T>& value) const {
  const std::size_t bytes = value.size() * sizeof(T);
  if (cache.count(word) || bytes > kPostingsCacheBytes) return;
  if (m_cacheBytes + bytes > kPostingsCacheBytes) EmptyCaches();
  cache.emplace(word, value);
  m_cacheBytes += bytes;
}

void CPositionsFile::EmptyCaches() const {
  m_postingsCache.clear();
  m_slotsCache.clear();
  m_cacheBytes = 0;
  // What queries still hold stays valid: their items keep their blocks.
  m_keptMemory.StartAfresh();
}

CKept<DWORD> CPositionsFile::WordSlots(std::size_t word) const {
  {
    std::lock_guard<std::mutex> lock(m_cacheMutex);
    auto it = m_slotsCache.find(word);
    if (it != m_slotsCache.end()) return it->second;
  }
  // Only each document's first place is decoded: the places are ascending,
  // so the word stands there as a word when the first is one. Counting the
  // places too (what a topic holds) was two thirds of what a phrase's first
  // run cost beyond the runs after it.
  const CKept<BYTE> bytes = Postings(word);
  // Room for the documents the word's entry counts; a posting takes a byte
  // at least, so a damaged count cannot ask for more than the postings' size.
  const std::size_t room = std::min<std::size_t>(DocumentCount(word), bytes.size());
  std::shared_ptr<DWORD> slots = TakeKept<DWORD>(room);
  std::size_t n = 0;
  CPostingReader reader(bytes.data(), bytes.size());
  Posting p;
  while (reader.Next(p)) {
    const BYTE* at = p.ordinals;
    DWORD first = 0;
    if (!GetVarint(at, p.ordinalsEnd, first)) throw CPositionsDamaged("ordinals do not decode");
    if (first < WordCountOf(p.slot)) {
      if (n == room) throw CPositionsDamaged("a word stands in more documents than its entry counts");
      slots.get()[n++] = p.slot;
    }
  }
  CKept<DWORD> kept(std::move(slots), n);
  std::lock_guard<std::mutex> lock(m_cacheMutex);
  Keep(m_slotsCache, word, kept);
  return kept;
}

DWORD CPositionsFile::WordCountOf(DWORD slot) const {
  return m_hasWordCounts && slot < m_slots ? GetDword(m_wordCounts.data() + 4 * std::size_t(slot)) : 0;
}

bool CPositionsFile::HasRecord(DWORD slot) const {
  return slot < m_slots && GetDword(m_docTable.data() + std::size_t(slot) * kDocEntrySize + 8) != 0;
}

bool CPositionsFile::DocumentBytes(DWORD slot, const BYTE*& data, std::size_t& length) const {
  if (slot >= m_slots) return false;
  const BYTE* e = m_docTable.data() + std::size_t(slot) * kDocEntrySize;
  length = GetDword(e + 8);
  if (length == 0) return false;
  data = m_docs.data() + GetQword(e);
  if (!m_docChecked[slot].load(std::memory_order_acquire)) {
    if (Crc32(data, length) != GetDword(e + 12)) throw CPositionsDamaged("the record of a document is damaged");
    m_docChecked[slot].store(true, std::memory_order_release);
  }
  return true;
}

void CPositionsFile::PrefetchAhead(std::span<const DWORD> slots, std::size_t i) const {
  constexpr std::size_t kEntryAhead = 16, kRecordAhead = 8;
  if (i + kEntryAhead < slots.size() && slots[i + kEntryAhead] < m_slots)
    __builtin_prefetch(m_docTable.data() + std::size_t(slots[i + kEntryAhead]) * kDocEntrySize);
  if (i + kRecordAhead >= slots.size() || slots[i + kRecordAhead] >= m_slots) return;
  const BYTE* e = m_docTable.data() + std::size_t(slots[i + kRecordAhead]) * kDocEntrySize;
  const ULONGLONG offset = GetQword(e);
  const DWORD length = GetDword(e + 8);
  if (length == 0 || offset > m_docs.size() || length > m_docs.size() - offset) return;
  // The whole record when it is short: the join bit a phrase asks for and
  // the split words may lie anywhere in it (the first run of a phrase whose
  // candidates' records are not in the cache took a tenth longer with only
  // the start and the end asked for); of a longer one, its start and end.
  const BYTE* data = m_docs.data() + offset;
  constexpr std::size_t kLine = 64, kWholeRecord = 16 * kLine;
  if (length <= kWholeRecord) {
    for (std::size_t at = 0; at < length; at += kLine) __builtin_prefetch(data + at);
  } else {
    __builtin_prefetch(data);
  }
  __builtin_prefetch(data + length - 1);
}

bool CPositionsFile::ReadDocument(DWORD slot, DocRecord& out) const {
  const BYTE* data = nullptr;
  std::size_t length = 0;
  if (!DocumentBytes(slot, data, length)) return false;
  const BYTE* p = data;
  const BYTE* end = data + length;
  DWORD text = 0, markup = 0, splits = 0;
  if (!GetVarint(p, end, text) || !GetVarint(p, end, markup) || ULONGLONG(text) + markup > 0xFFFFFFFFull)
    throw CPositionsDamaged("the record of a document does not decode");
  const std::size_t joinedBytes = (std::size_t(text) + markup + 7) / 8;
  if (joinedBytes > static_cast<std::size_t>(end - p)) throw CPositionsDamaged("the record of a document is cut");
  out.textTokens = text;
  out.markupPieces = markup;
  out.joined = p;
  p += joinedBytes;
  if (!GetVarint(p, end, splits) || splits > text) throw CPositionsDamaged("the record of a document does not decode");
  out.Start(p, end, splits);
  return true;
}

bool CPositionsFile::ReadOptionalSection(DWORD id, std::vector<BYTE>& out, std::string* why) const {
  out.clear();
  if (why) why->clear();
  for (const OptionalSection& o : m_optional) {
    if (o.id != id) continue;
    out.resize(static_cast<std::size_t>(o.length));
    if (m_file.ReadAt(o.offset, out.data(), out.size()) != out.size() || Crc32(out.data(), out.size()) != o.crc) {
      out.clear();
      if (why) *why = "the section's checksum is wrong";
      return false;
    }
    return true;
  }
  return false;
}

}  // namespace concorda
