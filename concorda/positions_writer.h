// Writing the positions file of a base (format: positions_format.h).
//
// CPositionsBuilder gathers the positions of the documents indexed in one
// session, word by word, compactly coded as they will be stored (each word's
// postings grow in a chain of blocks carved from large slabs, so that a
// build of many thousands of documents neither copies nor fragments them).
// Documents are known by the offset of their item record in the container,
// which no later change of the container moves, so the writer can tell at
// the end which slot holds which of them.
//
// WritePositionsFile then writes the whole file for the slots of the base
// as they stand: each slot's document from the session, from the previous
// file (when it was still the base's), or nothing. Used by CDocServer when
// it writes its index; not thread-safe.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "concorda/doc_positions.h"
#include "concorda/positions_file.h"
#include "concorda/word_hash.h"
#include "concorda/word_slots.h"
#include "platform/large_buffer.h"
#include "platform/windows_types.h"

namespace concorda {

class CLemmaLookahead;

class CPositionsBuilder {
 public:
  CPositionsBuilder() = default;
  CPositionsBuilder(const CPositionsBuilder&) = delete;
  CPositionsBuilder& operator=(const CPositionsBuilder&) = delete;

  // Adds the positions of the document whose item record lies at `record`,
  // coded already (CDocPositions::Code; throws std::logic_error otherwise).
  // A document stored again at the same record replaces nothing: records
  // are never reused while a container is open. `indexed` when its words
  // went into the index too, not only into this file.
  void Add(DWORD record, const CDocPositions& doc, bool indexed);
  // The number of the word doc.WordAt(i) of the document added last (a
  // number of WordText; words are numbered in the order the session first
  // met them).
  DWORD LastWordNumber(std::size_t i) const { return m_chains[i]->number; }
  bool Indexed(DWORD session) const { return session < m_indexed.size() && m_indexed[session]; }
  // The session number of the document at `record`, or kNone.
  static constexpr DWORD kNone = 0xFFFFFFFF;
  DWORD Find(DWORD record) const;
  std::size_t Documents() const { return m_docOffsets.size(); }
  std::size_t Bytes() const { return m_nBytes; }

  // --- for the writer ---
  std::size_t WordCount() const { return m_words.size(); }
  std::string_view WordText(std::size_t id) const { return m_words[id].text; }
  std::vector<std::string_view> WordTexts() const;
  // The postings of a word as (session number, ordinal bytes) pairs, in
  // session order.
  struct Entry {
    DWORD session;
    const BYTE* ordinals;
    std::size_t length;
  };
  void Entries(std::size_t id, std::vector<Entry>& out) const;
  // The postings of a word appended to `out` as the file stores them when
  // every document of the session has its session number for its slot (a
  // base built in one session): the entries are coded alike. Returns how
  // many documents they list.
  DWORD AppendPostingsInPlace(std::size_t id, std::vector<BYTE>& out) const;
  // The record of a document (section 5 form).
  std::string_view Record(DWORD session) const;

 private:
  struct Block {
    Block* next;
    DWORD capacity;
    DWORD used;
    BYTE data[1];
  };
  struct WordChain {
    std::string text;
    Block* head = nullptr;
    Block* tail = nullptr;
    DWORD lastSession = 0;
    DWORD documents = 0;
    DWORD number = 0;  // its place in m_words
    bool any = false;
  };
  Block* NewBlock(std::size_t capacity);
  void Append(WordChain& w, std::span<const BYTE> head, std::span<const BYTE> body);

  CWordSlots<WordChain> m_byText;                        // the chains of m_words by their words
  std::deque<WordChain> m_words;                         // a deque: the texts never move
  // The blocks are cut from slabs of one huge page each (large_buffer.h):
  // a session of 20,000 documents holds 70 MB of them, which in 4 KB pages
  // were 17,000 page faults.
  std::vector<CLargeBuffer> m_slabs;
  std::size_t m_slabUsed = 0;
  std::size_t m_nBytes = 0;
  std::vector<BYTE> m_records;               // the documents' records, one after the other
  std::vector<std::size_t> m_docOffsets;     // per session number: start of its record in m_records
  std::vector<bool> m_indexed;               // per session number: its words are in the index
  std::unordered_map<DWORD, DWORD> m_byRecord;  // record offset -> session number
  std::vector<BYTE> m_scratch;
  std::vector<WordChain*> m_chains;  // of the document being added
};

// Where the document of a slot of the new file comes from.
struct PositionsSource {
  enum Kind : BYTE { kNothing, kSession, kOld } kind = kNothing;
  DWORD number = 0;  // session number, or slot in the old file
  // The index written with the file lists the document's words: it was
  // indexed in this writing session.
  bool indexed = false;
  // The slot holds a document that could not be read (it has no record).
  bool unread = false;
};

// Writes the positions file of the base at `basePath` (PositionsPath;
// atomically: a temporary file beside it, renamed over it, with the base's
// group and read and write permissions, so that whoever may read the base
// may read its positions) for a base of `guid` in state `stamp`, one slot per
// entry of `slots`. `old` may be null. The word counts (section 8), which
// let queries take a word's topics from the file, are written only when the
// file and the index agree by construction: every document of the base was
// indexed in this session and read (each source `indexed`, none `unread`). False (nothing replaced) when the
// file cannot be written, *why saying so; throws CPositionsDamaged when the
// old file proves damaged while it is copied.
// `lemmas`, when given, has looked the words of the session up already.
bool WritePositionsFile(const std::string& basePath, const GUID& guid, ULONGLONG stamp,
                        const std::vector<PositionsSource>& slots, const CPositionsBuilder& session,
                        const CPositionsFile* old, std::string* why, CLemmaLookahead* lemmas = nullptr);

}  // namespace concorda
