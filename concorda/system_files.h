// The system files in which CDocServer keeps its index inside the container,
// as ordinary items with reserved names (stored with method 2 and a 275-byte
// descriptor). Integers are little-endian words.
//
// Key table   "HashKeyTable0304...": see key_table.h.
//
// Word table  "WordTopicTable0304...":
//   0          N, the number of words
//   4          S, the byte length of the word area
//   8          N references, in word order (low 16 bits index file number,
//              high 16 bits slot in that file)
//   8 + 4N     the N words in ascending unsigned byte order, each NUL-terminated
//
// Index file  "WordIndexFile039482834628192737Word" + number in decimal:
//   0          K slot offsets from the start of the file; the first is 4K
//   4K         K blocks: c, then the word's c topics in ascending item order
//
// Everything read from these files is checked against the file's length
// before anything is allocated or read: a damaged file yields fewer words or
// topics, never a read outside it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "concorda/word_index.h"
#include "platform/windows_types.h"

namespace concorda {

extern const char kKeyTableName[];
extern const char kWordTableName[];
extern const char kIndexFilePrefix[];  // the 35 bytes every index file name starts with
constexpr std::size_t kIndexFilePrefixLength = 35;

std::string IndexFileName(DWORD number);
// True for the names of the three kinds of system files.
bool IsSystemFileName(const char* name);

// --- word table file ---

std::vector<BYTE> BuildWordTableFile(const CWordTable& table);

struct ParsedWordTable {
  std::vector<BYTE> area;                          // the word area, NUL-terminated as a whole
  std::vector<std::pair<DWORD, DWORD>> words;      // (offset of the word in area, reference)
  bool whole = true;                               // false when the file was damaged
};
// Reads the word table file. The words come out strictly ascending (a damaged
// file is put in order and rid of duplicates).
ParsedWordTable ParseWordTableFile(const BYTE* data, std::size_t length);

// --- index files ---

// Builds an index file from the topic lists of its words, slot by slot.
void BuildIndexFile(const std::vector<std::pair<const DWORD*, DWORD>>& lists, std::vector<BYTE>& out);
// The block of `slot`: its topic count and the first of its topic bytes.
// False when the slot or its block does not lie inside the file.
bool ReadIndexSlot(const BYTE* data, std::size_t length, DWORD slot, DWORD& count, const BYTE*& topics);

}  // namespace concorda
