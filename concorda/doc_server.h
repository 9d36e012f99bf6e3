// `CDocServer`, the document index: a container (`CFileServer`) whose
// documents are indexed word by word, with a key table that finds documents
// by their act keys. The index lives inside the same container as system
// files (system_files.h); beside the container lies the positions file
// (positions_format.h), where each word of each document stands, which
// phrase and proximity queries read. The catalogue opens every base
// read-only as a CDocServer and runs word and key queries on it; the base
// tools build and maintain indexed containers through the writing operations.
//
//   CDocServer base("acts.vq", &guid, CFile::modeCreate | CFile::modeReadWrite);
//   base.AddFile(doc, item, "DU/1997/78/483;K", 2);      // stores and indexes
//   base.Close();                                        // writes the index and the positions
//   ...
//   WORD first;
//   auto* h = base.FindFirstDoc("kodeks I pracy", &first, nullptr);
//   if (h != CDocServer::NoFind()) { WORD next; while (CDocServer::FindNextDoc(h, &next)) ...; }
//
// Threads: on a container opened read-only, queries (FindFirstDoc,
// FindDocs, FindFirstDocFromKey, FindNextDoc on one's own handle) may run
// from many threads at once; the lazy loading of topic lists, the lazy
// suffix index and the first opening of the positions file are guarded.
// Changing or writing the index (the writing operations, Compact, Union,
// Close of a writable container) is for one thread while nobody queries the
// same object. Two CDocServer objects share nothing: two bases can be
// indexed by two threads at once. Documents may be prepared (read, cut into
// words, compressed) by any number of threads (CPreparedDocument) and then
// stored by the one writing thread (StorePrepared).
//
// Failures: every item a CDocServer stores is indexed, whichever writer
// stored it (the store's own writers index too, without keys; the store's
// union takes only indexes). A document that cannot be prepared (too large,
// memory) is not stored and the writer returns kNoItem. File failures of the
// container travel as CFileException; an index that cannot be written (Close,
// Compact) throws CXException naming the base; no memory, CMemoryException.
// Damaged or missing system files leave the affected words or keys without
// results; a missing, stale or damaged positions file makes phrases and
// proximity read the documents instead, with one line on the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "concorda/change_log.h"
#include "concorda/grow_block.h"
#include "concorda/index_cache.h"
#include "concorda/doc_positions.h"
#include "concorda/key_table.h"
#include "concorda/positions_file.h"
#include "concorda/positions_writer.h"
#include "concorda/term_cache.h"
#include "concorda/word_forms.h"
#include "concorda/word_index.h"
#include "concorda/word_query.h"
#include "kasten/file_server.h"
#include "platform/large_buffer.h"

class CPreparedDocument;
namespace concorda {
class CLemmaLookahead;
class CMarkedPhrase;
}

class CDocServer : public CFileServer {
 public:
  // The result of a query: item indices, ascending, and the read position.
  // Owned by the caller until FindNextDoc reports the end or FindClose.
  struct FindHandle {
    std::vector<DWORD> aItems;
    DWORD dwNext = 0;
  };
  // The handle value that means "nothing found" (all bits set); not a handle.
  static FindHandle* NoFind() { return reinterpret_cast<FindHandle*>(~std::uintptr_t(0)); }

  CDocServer();
  // Constructs and opens, as Init does.
  CDocServer(const char* path, const GUID* guid, UINT openFlags);
  ~CDocServer() override;

  // Opens the container, then loads its key table and word table (empty when
  // the system files are missing or unreadable). FALSE when the container
  // cannot be opened or this object is open already.
  BOOL Init(const char* path, const GUID* guid, UINT openFlags) override;
  // Writes the index when the container is writable and anything changed
  // since it was written (or the container was written since its last
  // compaction), releases the index and closes the container.
  void Close() override;
  // Writes the index and compacts the container; the written index names the
  // documents by their compacted indices. FALSE when not writable.
  BOOL Compact() override;
  // The container's union, asked of an index: the index union below when
  // both sources are indexes; FALSE (nothing changed) for plain containers,
  // whose documents no index would list.
  BOOL Union(CFileServer* first, CFileServer* second) override;
  BOOL IsSystemFile(DWORD index) override;

 protected:
  DWORD GetSystemFilesCount() override;
  void WriteSystemFiles() override;
  void OnDelete(DWORD index) override;
  void OnInsert(DWORD index) override;
  void OnRemove(DWORD index) override;

 public:
  // Fills this writable container with the documents of two compacted
  // indexed containers and one index over both: the first's documents keep
  // their order and come first, then the second's, as the container's union
  // places them. Both sources are left open read-only. FALSE (nothing
  // changed) when this container is not writable or a source is not compacted.
  virtual BOOL Union(CDocServer* first, CDocServer* second);

 protected:
  // Adds the words of the document in `file` (read from its start) under index.
  virtual void IndexDocument(DWORD index, CFile& file);
  // Records the ';'-separated keys of the item (an empty piece is a key too).
  virtual void IndexKeys(DWORD index, const char* keys);
  // Finds the next word of upper-cased text (see NextWordIn, word_tokenizer.h).
  virtual char* NextWord(char* text, DWORD length, char** word, DWORD* wordLength);

 public:
  // Storing documents: the container's operation, then the keys (may be
  // null) and the words of the document are indexed. Returns the item index,
  // or kNoItem when the container is not writable or the document cannot be
  // stored (nothing is stored or indexed then).
  DWORD InsertFile(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method);
  DWORD AddFile(CFile& file, const _FILEITEM* item, const char* keys, DWORD method);
  DWORD ReplaceFile(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method);
  // The store's writers, called on this object or through the store's
  // interface, index too (without keys): no item escapes the index.
  DWORD InsertFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method) override;
  DWORD ReplaceFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method) override;
  using CFileServer::AddFile;
  // Stores a prepared document at `index` (inserting, or replacing the item
  // there) and indexes it: the writing half of the operations above, for
  // documents prepared on other threads. kNoItem when not writable.
  DWORD StorePrepared(CPreparedDocument& doc, DWORD index, bool replace);

  // Writes the positions file beside the base now (also for a base opened
  // read-only: it reads the documents and writes only that file), from the
  // documents themselves. FALSE, *why saying so, when it cannot be written.
  BOOL WritePositions(std::string* why = nullptr);
  // The positions file as queries find it (opened on first use).
  concorda::CPositionsFile::State PositionsState();

  // Word query (see query.h for the language). Returns a handle whose first
  // item's low 16 bits are stored in *first, or NoFind() when the query is
  // null or finds nothing (first unchanged). `reserved` is neither read nor
  // written. A query over the limits of concorda::QueryLimits finds nothing
  // here too; callers that must tell it apart use FindDocs.
  FindHandle* FindFirstDoc(const char* query, WORD* first, BYTE* reserved);
  // Runs a prepared query within its budget: the item indices found
  // (ascending, all 32 bits) in `items`, and TRUE; or FALSE, `items` empty
  // and the query marked refused (query.Refusal() says why) when it passed
  // a limit here or before. Never a part of the result.
  BOOL FindDocs(CWordQuery& query, std::vector<DWORD>& items);
  // Documents carrying any of the ';'-separated keys; as FindFirstDoc.
  FindHandle* FindFirstDocFromKey(const char* keys, WORD* first) const;
  // Stores the next item's low 16 bits and returns TRUE; at the end releases
  // the handle and returns FALSE (the handle must not be used afterwards).
  static BOOL FindNextDoc(FindHandle* handle, WORD* next);
  // Number of items of the handle (low 16 bits); 0 for null or NoFind().
  static WORD GetFindItems(FindHandle* handle);
  // Releases a handle not yet ended by FindNextDoc; null and NoFind() are ignored.
  static BOOL FindClose(FindHandle* handle);

  // Documents indexed by one index object before the memory flush writes
  // the topic lists out (100000; tests lower it). A setting of the process.
  static void SetMemoryFlushInterval(DWORD documents);

  // The word table, for the tools: the number of words, a word, and its
  // topics (item index in bits 0-23, occurrences in bits 24-31; loaded when
  // needed; empty when unreadable).
  DWORD GetWordCount() const { return static_cast<DWORD>(Words().Size()); }
  const char* GetWordAt(DWORD i) const { return i < Words().Size() ? Words()[i].m_pWord : nullptr; }
  std::vector<DWORD> GetWordTopics(DWORD i);
  // Number of keys in the key table.
  DWORD GetKeyCount() const { return static_cast<DWORD>(m_keys.Size()); }

  // A query word with markers (query_markers.h): appends the positions in
  // the word table of the words it stands for, ascending (doc_word_forms.cpp).
  // The budget, when given, bounds the time of the search (the caller
  // charges the words found).
  void FindMarkedWords(std::string_view term, std::vector<std::size_t>& out,
                       const concorda::CQueryBudget* budget = nullptr);
  // The lemmas whose forms a "~" word stands for: the upper-case word's own
  // and, with `fold`, those of the words of the base that read alike and the
  // lemmas that read alike. None without the dictionary.
  std::vector<std::string> LemmasOf(std::string_view word, bool fold, const concorda::CQueryBudget* budget = nullptr);
  // The forms of an upper-case lemma that the base holds: positions in the
  // word table, ascending (GetWordAt).
  std::vector<DWORD> FormsOf(std::string_view lemma);

 private:
  // The lemma table and the fold table of the base's words, read from the
  // positions file or built from the word table when first asked for (and
  // again after the word table changed). Without the dictionary the lemma
  // table is empty and marked words match as written.
  const concorda::CWordForms& LemmaTable();
  const concorda::CWordForms& FoldTable();
  friend class CDocQuery;
  friend struct CDocServerProbe;  // the tests' view of the word table
  class CHookPause;

  // --- loading and system files (doc_server.cpp) ---
  void LoadKeyTable();
  void LoadWordTable();
  void ReleaseIndex();
  // Item index of a system file, checked by name (a different item with the
  // same name hash is not taken for it); kNoItem when there is none.
  DWORD FindSystemItem(const char* name);
  bool ReadSystemFile(const char* name, CMemFile& out);
  void StoreSystemFile(const char* name, CFile& content);

  // --- topic lists (doc_topics.cpp); the first four need m_mutexIndex held ---
  // Puts the word's topics in memory, current with the change log. False when
  // the stored list cannot be read (the word then holds no topics).
  bool LoadTopics(concorda::WordIndex& w);
  // Applies the records the in-memory topics have not seen yet.
  void BringCurrent(concorda::WordIndex& w);
  // Topic count without loading: in memory, or from the index file (0 when unreadable).
  DWORD StoredTopicCount(const concorda::WordIndex& w);
  const CMemFile* IndexFile(DWORD number);
  // Appends the item indices (or whole topics) of the word at pos (locks m_mutexIndex).
  void CopyTopicItems(std::size_t pos, std::vector<DWORD>& items, bool wholeTopics = false);
  // The same for a word a query names itself, or one of the few a pattern or
  // a marked word stands for: when its topics are not in memory, its items
  // come from the word's postings in the positions file when it can give
  // them (one read of one word instead of inflating an index file), kept
  // there for the next query; the topics stay where they are.
  void CopyWordItems(std::size_t pos, std::vector<DWORD>& items);
  const std::vector<DWORD>& SuffixIndex();
  // The word table or the topics changed: the suffix index, the cached
  // wildcard terms and the lemma and fold tables are out of date.
  void IndexChanged();

  // --- writing (index_writer.cpp) ---
  class CIndexFileSink;
  class CScratch;
  // Writes the topic lists into index files (into `sink` when given), turning
  // written words into references when asked; drops words without topics and
  // empties the change log. Returns the number of index files.
  DWORD BuildIndexFiles(CIndexFileSink* sink, bool makeReferences);
  // True when no word's topics are to be read from a stored index file.
  bool AllTopicsInMemory();
  // Makes the scratch container unless AllTopicsInMemory; false when one is
  // needed and cannot be made.
  bool PrepareScratch(std::optional<CScratch>& scratch);
  // Builds the index files and stores them here: through the scratch
  // container when one is given (the stored ones are still read while the
  // new ones are built), else straight in (AllTopicsInMemory).
  void MoveIndexFiles(CScratch* scratch, bool removeStale);
  void WriteKeyTable();
  void WriteWordTable();
  void FlushMemory();

  // --- indexing (doc_indexer.cpp) ---
  // Indexes the words of a document read into `doc` under `index`, and
  // keeps its positions for the positions file.
  // `appended`: the document was just stored behind every other one (its
  // topics may wait, see Words()).
  void IndexWords(DWORD index, const concorda::CDocPositions& doc, bool appended = false);
  void MergeWords(DWORD index, const concorda::CDocPositions& doc);
  // A new word of the table, a copy of `text` current with the change log,
  // with no topics: appended to `added` at its place in the table, found
  // from `pos` on (words come in ascending order); the caller gives it its
  // topics and inserts `added` into the table (CWordTable::InsertSorted).
  concorda::WordIndex& AddNewWord(std::vector<std::pair<std::size_t, concorda::WordIndex>>& added, std::size_t& pos,
                                  std::string_view text);
  DWORD StoreDocument(CFile& file, const _FILEITEM* item, DWORD index, const char* keys, DWORD method, bool replace);
  void RecordChange(BYTE kind, DWORD index);

  // --- topics of appended documents (doc_deferred_topics.cpp) ---
  // A build appends document after document. Putting each word's topic at
  // the end of its list as the documents come costs a cache miss per word
  // and document (the lists lie all over memory); instead the topics of
  // appended documents wait, as the positions builder's word numbers with
  // their occurrences, and go into the word table in one pass, word by word,
  // the next time the table is used: every use goes through Words(). The
  // table, its topics and everything written from them are the same as if
  // each document had been merged on its own.
  concorda::CWordTable& Words() {
    if (!m_deferredDocs.empty()) MergeDeferredTopics();
    return m_wordTable;
  }
  const concorda::CWordTable& Words() const { return const_cast<CDocServer*>(this)->Words(); }
  // True when a document indexed at `index` may wait: it lies behind every
  // waiting one, and the numbers fit the waiting form.
  bool CanDeferTopics(DWORD index, const concorda::CDocPositions& doc) const;
  // True when nothing waits, or an item at `index` lies behind all that does.
  bool DefersBefore(DWORD index) const { return m_deferredDocs.empty() || m_deferredDocs.back().item < index; }
  // A change of the container moves the waiting documents as it moves the
  // topics of the table; a document it takes away is left out when merged.
  void ShiftDeferredTopics(const concorda::ChangeRecord& change);
  // Keeps the topics of the document just added to the positions builder.
  void DeferTopics(DWORD index, const concorda::CDocPositions& doc);
  void MergeDeferredTopics();
  void DropDeferredTopics();

  // --- the positions file (doc_positions_file.cpp) ---
  ULONGLONG StateStamp();
  // Where each slot's positions come from when the file is written now;
  // documents known from nowhere are read and cut into words here. Empty
  // slots are left out when `dropEmpty` (the slots of a compaction).
  std::vector<concorda::PositionsSource> PositionsSources(bool fromDocuments, bool dropEmpty);
  // Writes the file for the sources (the slots as they stand now) and logs
  // what went wrong; true when written. `lemmas`: the session's words looked
  // up in the dictionary already (when given).
  bool WritePositionsFor(const std::vector<concorda::PositionsSource>& sources, bool fromDocuments,
                         std::string* why, concorda::CLemmaLookahead* lemmas = nullptr);
  // Opens the file as the writing session's starting point (writable) and
  // records where each slot's record lay then.
  void OpenPositionsForWriting();
  // The file for queries: opened on first use; null when it cannot be used.
  const concorda::CPositionsFile* QueryPositions();
  // The file when it can also give the topics of words: it holds the word
  // counts and a record of every document of the base. Null otherwise.
  const concorda::CPositionsFile* TopicPositions();
  bool GivesTopics(const concorda::CPositionsFile& file);
  // Puts the word's topics in memory from the file's postings (m_mutexIndex
  // held); false when the file cannot tell (the index files are read then).
  bool TopicsFromPositions(const concorda::CPositionsFile& file, concorda::WordIndex& w);
  // Whether the file may answer for the word (m_mutexIndex held): its topics
  // are not in memory and the base has not changed since it was opened.
  bool PositionsMayAnswer(const concorda::WordIndex& w) const;
  // The documents of the word from the file's postings, without the counts
  // of its topics (m_mutexIndex held); none (false) when the file cannot tell.
  CKept<DWORD> SlotsFromPositions(const concorda::CPositionsFile& file, const concorda::WordIndex& w);
  // Stops using the file for queries (damage found), with one log line.
  void PositionsUnusable(const std::string& why);
  void ReleasePositions();
  // The phrase filter and proximity of a query, from the positions or the documents.
  // Phrases with marked words get a matcher each (doc_word_forms.cpp), the others none.
  // A lemma or fold table from the positions file (one log line when it
  // cannot be taken from there); false: build it in memory.
  bool LoadStoredForms(DWORD id, concorda::CWordForms& table);
  // Turns numbers[from..] of a table read from `file` into positions in the
  // word table (words it does not hold are dropped); nothing for null.
  void ToWordTable(const concorda::CPositionsFile* file, std::vector<DWORD>& numbers, std::size_t from) const;
  // The proximity with the words its marked words stand for in this base.
  concorda::Proximity ExpandMarkedOperands(const concorda::Proximity& p, concorda::CQueryBudget& budget);
  std::vector<std::unique_ptr<concorda::CMarkedPhrase>> MarkedPhrases(const concorda::PreparedQuery& query,
                                                                      concorda::CQueryBudget& budget);
  void FilterPhrases(const concorda::PreparedQuery& query, concorda::ItemSet& r, concorda::CQueryBudget& budget);
  concorda::ItemSet ProximityDocs(const concorda::Proximity& p, const concorda::ItemSet& candidates,
                                  concorda::CQueryBudget& budget);
  bool ReadDocument(DWORD index, std::string& bytes);

  // --- union (doc_union.cpp) ---
  bool ReopenReadOnly();
  std::vector<DWORD> UnionPlaces(DWORD& next);
  void CopyMappedTopics(std::size_t pos, const std::vector<DWORD>& places, std::vector<DWORD>& out);

  concorda::CGrowBlock m_wordBuf;        // word scratch buffer (words with markup inside)
  std::vector<BYTE> m_wordBlock;         // read-only: the word area the words point into
  concorda::CKeyTable m_keys;
  concorda::CWordTable m_wordTable;      // use through Words()
  // Waiting topics (Words()): per admitted word of each appended document,
  // its number in the positions builder (bits 8-31) and its occurrences as
  // a word, capped at 255 (bits 0-7); per document, its item and the end of
  // its words in m_deferredTopics.
  static constexpr DWORD kGoneItem = 0xFFFFFFFF;  // the document was removed since
  struct DeferredDoc {
    DWORD item;
    std::size_t end;  // in the waiting topics counted through the blocks
  };
  // In blocks of kDeferredBlock: a list that doubled would copy all it holds
  // and have every page of the copy faulted in again. Each block is two
  // huge pages (large_buffer.h) rather than a thousand 4 KB ones.
  static constexpr std::size_t kDeferredBlock = std::size_t(1) << 20;
  std::vector<CLargeBuffer> m_deferredTopics;
  DWORD* DeferredBlock(std::size_t block) { return reinterpret_cast<DWORD*>(m_deferredTopics[block].data()); }
  std::size_t m_deferredCount = 0;
  std::vector<DeferredDoc> m_deferredDocs;
  concorda::CChangeLog m_log;
  concorda::CIndexFileCache m_cache;     // guarded by m_mutexIndex
  BOOL m_bChanged = FALSE;               // a hook changed the key table
  std::vector<DWORD> m_aSuffix;          // suffix index, built under m_mutexIndex
  std::atomic<bool> m_bSuffixCurrent{false};
  concorda::CTermCache m_termCache;      // documents of recent wildcard terms
  CMutex m_mutexIndex;                   // index-file cache, topic loading and dropping, suffix index

  concorda::CDocPositions m_docPositions;  // the document being indexed
  DWORD m_dwIndexedSinceFlush = 0;        // documents indexed since the last memory flush
  // The positions: of the documents indexed since the base was opened
  // (writable), and the file as it was (the starting point of a writable
  // base; what queries read on a read-only one).
  std::unique_ptr<concorda::CPositionsBuilder> m_positionsSession;
  std::unique_ptr<concorda::CPositionsFile> m_positionsFile;
  std::vector<DWORD> m_positionsRecords;  // writable: each slot's record offset when the file was opened
  std::mutex m_positionsMutex;            // the first opening for queries
  std::atomic<int> m_positionsUse{0};     // queries: 0 not tried, 1 usable, 2 not usable
  bool m_positionsTopics = false;         // the usable file gives topics too (set with m_positionsUse)

  concorda::CWordForms m_lemmaTable;     // built under m_mutexForms, then read-only
  concorda::CWordForms m_foldTable;
  // The positions file the tables were read from (their numbers are its
  // words'), or null when they were built from the word table.
  const concorda::CPositionsFile* m_pLemmasFile = nullptr;
  const concorda::CPositionsFile* m_pFoldsFile = nullptr;
  std::atomic<bool> m_bLemmasCurrent{false};
  std::atomic<bool> m_bFoldsCurrent{false};
  std::mutex m_mutexForms;

  bool m_bDirty = false;                 // the index changed since it was written
  bool m_bCompacting = false;            // Compact runs: Close writes nothing
  bool m_bTopicsLost = false;            // a stored topic list could not be read since the base was opened
  int m_nHookPause = 0;                  // >0: the hooks record nothing (own system files)
};

// Owns a find handle of CDocServer until it is used up or goes away.
struct FindHandleClose {
  void operator()(CDocServer::FindHandle* h) const { CDocServer::FindClose(h); }
};
using FindHandlePtr = std::unique_ptr<CDocServer::FindHandle, FindHandleClose>;
