// The positions file beside a base ("acts.vq" -> "acts.vqp"): where each
// word of each document stands (doc_positions.h), so that a phrase or a
// proximity query reads the positions of its few words in the candidate
// documents instead of inflating and scanning every candidate. The base does
// not know of it: the container format is unchanged, readers that do not
// know the file never open it, and a missing, stale or damaged file only
// makes phrase queries read the documents as they always did.
//
// All integers are little-endian; "varint" is the variable-length integer
// of bytes.h. docs/formats.md describes the same in prose, field by field
// with its purpose, with the other files.
//
// Header (64 bytes at offset 0), then the section table:
//   0   8  magic "VamuPos" and 0x1A, to tell the file from any other
//   8   4  format version, 1; a reader takes no other version
//   12  4  section count S
//   16  16 GUID of the base, as in the container's header: a file is never
//          taken for the positions of another base
//   32  8  stamp of the base's state when the file was written (below): a
//          base changed by any writer afterwards is recognised
//   40  4  slot count of the base then (documents are named by slot)
//   44  4  flags, 0 (reserved: a reader refuses a file with flags it does not know)
//   48  8  length of the whole file: a cut file is recognised at once
//   56  4  reserved, 0
//   60  4  CRC-32 of bytes 0-59 and of the section table
//   64  S entries of 24 bytes: section id (4), CRC-32 of the section (4; 0
//       for the postings and the document records, which carry a CRC per
//       word and per document instead, checked when read), offset (8),
//       length (8). Sections lie behind the table; unknown ids are skipped,
//       so later versions can add sections (sections 6, 7 and 8 were added so).
//
// Section 1, words: every word and markup piece of the base, upper-case,
// ascending in unsigned byte order:
//   0      4   N, the number of words
//   4      4   B, the byte length of the word text
//   8      24N per word: offset of its postings in section 3 (8), their
//              length (4), the number of documents holding it (4), the
//              CRC-32 of its postings (4), reserved 0 (4)
//   8+24N  4(N+1) offset of each word's text in the word text, and B
//   ...    B   the word text, the words one after the other
// Section 2, word ends: the N word numbers ordered by the words read
//   backwards (the suffix order of suffix_index.h), so that the words that
//   end with a text are adjacent.
// Section 3, postings: per word, its documents ascending: the slot minus
//   the slot before (the first: the slot), varint; the byte length of the
//   ordinals, varint; the ordinals, varints (the first, then each minus the
//   one before). Ordinals below the document's word count are words, the
//   others markup pieces.
// Section 4, document table: per slot (the slot count of the header), the
//   offset of its record in section 5 (8), the record's length (4; 0 for a
//   slot that holds no document: empty, or a file of the index) and its
//   CRC-32 (4).
// Section 5, document records: the number of words T (varint), the number
//   of markup pieces M (varint), the joins ((T + M + 7) / 8 bytes; bit k of
//   byte k / 8, least significant first, set when ordinal k is followed by
//   ordinal k + 1 after exactly one blank or '@'), the number of split words
//   (words with a tag between their letters; varint), and for each: its
//   ordinal (varint, minus the one before), its number of pieces P >= 2
//   (varint) and the byte length of each piece (P varints).
//
// Section 6, lemmas, and section 7, the fold order: the lemma and fold
//   tables of the words of section 1 (layouts in word_forms.h). A file
//   without them, or with a damaged one, only makes the queries build the
//   table in memory.
// Section 8, word counts: per slot (the slot count of the header), the
//   number of words T of its document's record (4), 0 for a slot without a
//   record. With it, a word's documents and its occurrences as a word in
//   each (the ordinals below T) come from its postings alone, so a query
//   reads one word's postings instead of inflating a whole index file for
//   it (CDocServer, doc_positions_file.cpp). A file without it, or with a
//   damaged one, only makes the queries read the index files as before.
//   Written only when every document was indexed by the session that
//   writes the file (WritePositionsFile), so that file and index agree.
//
// The stamp of a base's state is the 64-bit FNV-1a hash of its GUID (16
// bytes as in the header), its slot count (4 bytes) and the offset of every
// slot's item record (4 bytes each, 0 for an empty slot). Every write of the
// container appends its records at new places, so any change of the base
// changes the stamp.
#pragma once

#include <cstddef>
#include <string>

#include "platform/windows_types.h"

namespace concorda {

constexpr char kPositionsMagic[8] = {'V', 'a', 'm', 'u', 'P', 'o', 's', 0x1A};
constexpr DWORD kPositionsVersion = 1;
constexpr std::size_t kPositionsHeaderSize = 64;
constexpr std::size_t kPositionsSectionEntrySize = 24;

enum PositionsSection : DWORD {
  kSectionWords = 1,
  kSectionWordEnds = 2,
  kSectionPostings = 3,
  kSectionDocTable = 4,
  kSectionDocRecords = 5,
  // 6 and 7: word_forms.h
  kSectionWordCounts = 8,
};
constexpr std::size_t kWordEntrySize = 24;
constexpr std::size_t kDocEntrySize = 16;

// The companion file of a base.
inline std::string PositionsPath(const std::string& basePath) { return basePath + "p"; }

// CRC-32 (the zlib polynomial), continued from `crc`.
DWORD Crc32(const void* data, std::size_t length, DWORD crc = 0);

// The stamp of a base state from its GUID, slot count and record offsets.
class CStateStamp {
 public:
  CStateStamp(const GUID& guid, DWORD slots);
  void AddSlot(DWORD recordOffset);
  ULONGLONG Value() const { return m_h; }

 private:
  void Add(const BYTE* p, std::size_t n);
  ULONGLONG m_h = 14695981039346656037ull;
};

}  // namespace concorda
