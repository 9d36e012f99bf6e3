// `CFileServer`, the container store: many named items in one file, found by
// slot index or by name through a hash table stored in the same file, kept
// raw or as zlib streams. The document index (`CDocServer`) derives from it
// and learns of every change through the protected hooks.
//
// Container file (integers little-endian, offsets absolute; docs/formats.md
// gives every field with its purpose):
//
//   0  DWORD  slot count (empty slots included)
//   4  DWORD  layout flag: 1 contiguous slot table, 0 chained
//   8  GUID   container GUID (16 bytes)
//  24  DWORD  reserved word, carried unchanged (per container)
//  28  DWORD  hash table offset; 0 = no table in the file
//  32  DWORD  write mark: 0, or "WRIT" while a writer has changed the file
//             and not closed it (the header then names no table)
//  36  DWORD  0; while marked, the offset of a pending redo record or 0
//  40  slot table: words; an item record offset, 0xFFFFFFFF for an empty slot,
//      or 0 = end of block, followed by a link to the next block (0 = none).
//      Contiguous: slot i at 40 + 4i, then 0 and 0.
//
//   item record: _FILEITEM (L bytes), DWORD method (0 stored, 1 and 2 zlib),
//                DWORD contents length, DWORD stored length, stored bytes
//   hash table:  slot-count entries (DWORD slot, DWORD name hash), ascending
//                by hash; the hash is MakeHash of the name's last component.
//
// Threads: reads (GetItem, GetFile, GetFileSize, GetFileCompSize, GetItemIndex)
// may run from many threads at once; each takes the file mutex around its file
// access. Writing, Compact and Union are for one thread while nobody reads.
// Reading a damaged container throws CFileException or CXException, or yields
// no item; it never reads outside the file.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "kasten/file_item.h"
#include "kasten/slot_chain.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "platform/windows_types.h"

class CFileServer {
 public:
  // One entry of the hash table.
  struct HashEntry {
    DWORD dwIndex;  // slot index
    DWORD dwHash;   // MakeHash of the item name's last component
  };

  static constexpr DWORD kNoItem = 0xFFFFFFFF;
  static constexpr DWORD kHeaderSize = 40;

  CFileServer();
  // Constructs and calls Init; its result is not reported (see IsOpen).
  CFileServer(const char* path, const GUID* guid, UINT openFlags);
  virtual ~CFileServer();

  // Opens the container at `path`, or creates it (writable flags and a GUID
  // needed). An existing file that cannot be opened because another process
  // holds it is waited for, retrying every second; failures that waiting
  // cannot cure (no permission, damaged header) give FALSE after a few tries.
  virtual BOOL Init(const char* path, const GUID* guid, UINT openFlags);
  // Writes back header and hash table (writable containers only) and closes.
  virtual void Close();
  // Rewrites the container without dead space, contiguous; keeps a ".bak" copy.
  virtual BOOL Compact();
  // Fills this (writable) container with the items of two compacted containers.
  virtual BOOL Union(CFileServer* first, CFileServer* second);
  virtual BOOL IsSystemFile(DWORD index);

 protected:
  virtual DWORD GetSystemFilesCount();
  virtual void WriteSystemFiles();
  // Hooks: OnDelete when Compact drops empty slot `index`; OnInsert after a
  // slot was inserted before `index` (items from index on moved up by one);
  // OnRemove after slot `index` was marked empty.
  virtual void OnDelete(DWORD index);
  virtual void OnInsert(DWORD index);
  virtual void OnRemove(DWORD index);

 public:
  // Slot index of the item called `name` (a path hashes its last component), or kNoItem.
  DWORD GetItemIndex(const char* name);
  // Descriptor of a slot, or null. Caller frees with FreeFileItem.
  _FILEITEM* GetItem(DWORD index);
  _FILEITEM* GetItem(const char* name);
  // Writes the contents of a slot into dst (from its start) and returns the
  // descriptor (caller frees), or null with dst untouched. limit 0 reads all;
  // otherwise limit stored bytes, or limit percent of them when percent is TRUE.
  _FILEITEM* GetFile(DWORD index, CFile& dst, DWORD limit, BOOL percent);
  _FILEITEM* GetFile(const char* name, CFile& dst, DWORD limit, BOOL percent);
  // Contents length / stored length of a slot; 0 when it holds no item.
  DWORD GetFileSize(DWORD index);
  DWORD GetFileCompSize(DWORD index);
  DWORD GetSize() const { return m_dwSize; }
  GUID GetGuid() const { return m_Guid; }
  bool IsOpen() const { return m_pFile != nullptr; }
  bool IsWritable() const { return m_pFile && (m_nOpenFlags & 3) != 0; }
  // Path of the open container file (empty when closed).
  std::string GetFilePath() const { return m_pFile ? m_pFile->GetFilePath() : std::string(); }
  DWORD GetLayout() const { return m_dwLayout; }

  static void FreeFileItem(_FILEITEM* item);
  static DWORD MakeHash(const char* name);
  // The last path component of a stored name (after the last '\').
  static const char* LastComponent(const char* name);
  static void* bsearch(const void* key, const void* base, std::size_t count, std::size_t width,
                       int (*compare)(const void*, const void*));
  static void qsort(void* base, std::size_t count, std::size_t width, int (*compare)(const void*, const void*));

  // Stops the background task; the stop request stays raised until the next Init.
  void EndOfPerformanceThread();
  // Starts writing what was written so far to the disk, without waiting (a
  // writer with other work before it closes): the close then waits less.
  void StartWriteBack();

  // --- writing (writable containers; otherwise kNoItem / nothing) ---
  // Stores src (from its current position to its end) as `item` at slot
  // `index`: into a free slot, or before the item that holds it (every item
  // from index on moves up by one). Returns index. InsertFile and
  // ReplaceFile are virtual so that a derived store that must see every item
  // (the document index) also sees those given through this class; AddFile
  // stores through InsertFile.
  virtual DWORD InsertFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method);
  DWORD AddFile(CFile& src, const _FILEITEM* item, DWORD method);
  virtual DWORD ReplaceFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method);
  // The record that storing src as `item` writes (descriptor, method,
  // lengths, stored bytes), made without touching any container, so that
  // items can be compressed on other threads than the one that stores them
  // (InsertEncoded). False when the item or method cannot be stored.
  static bool EncodeRecord(CFile& src, const _FILEITEM* item, DWORD method, CMemFile& record);
  void RemoveFile(DWORD index);
  // Grows or shrinks the slot table; takes the file mutex when lock is TRUE.
  DWORD SetSize(DWORD count, BOOL lock);
  void SetGuid(GUID guid);
  // Rebuilds the hash table from every slot (recovery of a file without one).
  void CreateHashTable();

 protected:
  // File offset of slot index's word, 0 when index >= slot count.
  DWORD FindIndexOffset(DWORD index);
  // Offset of slot index's item record, 0 when there is none.
  DWORD FindOffset(DWORD index);
  // FindOffset of every slot, in slot order, read a few pages at a time
  // rather than a word at a time (a base's state stamp reads them all).
  std::vector<DWORD> RecordOffsets();
  // Stores a record made by EncodeRecord as InsertFile / ReplaceFile would,
  // for derived classes that encode ahead or store items of their own.
  DWORD InsertEncoded(CMemFile& record, const _FILEITEM* item, DWORD index);
  DWORD ReplaceEncoded(CMemFile& record, const _FILEITEM* item, DWORD index);
  void SortHashTable();

  DWORD m_dwSize = 0;                // slot count
  GUID m_Guid{};                     // container GUID
  DWORD m_dwHashOffset = 0;          // table offset; when writable, where Close writes it
  std::vector<DWORD> m_adwUser;      // for derived classes; the store never uses it
  CFile* m_pFile = nullptr;          // the open container, owned
  std::vector<HashEntry> m_aHash;    // hash table, authoritative while open
  // Entries at the end of m_aHash appended for new last slots and not yet
  // sorted in (SettleHash). Adding documents one by one thus moves no part
  // of the table: a sorted insertion each moved half of it, which for a
  // base of a million documents is terabytes moved in all.
  std::size_t m_hashUnsorted = 0;
  std::atomic<BOOL> m_bStop{FALSE};  // stop request for the background task
  CMutex m_mutexMaint;               // held by the background task and restructuring
  CMutex m_mutexFile;                // around every access to m_pFile
  DWORD m_dwLayout = 1;              // layout flag
  UINT m_nOpenFlags = 0;             // open flags as given to Init (adjusted)

 public:
  // What the list and verify tools show of a slot, without reading its contents.
  struct ItemInfo {
    std::string name;
    DWORD method = 0;
    DWORD contentsLength = 0;
    DWORD storedLength = 0;
    DWORD recordOffset = 0;
    bool sound = false;  // the lengths fit the file
  };
  // False for an empty slot or a descriptor that cannot be read.
  bool GetItemInfo(DWORD index, ItemInfo& info);

  // What Verify finds wrong: in a slot (its item's name when it can be
  // read), or in the container as a whole (slot kNoItem).
  struct Finding {
    DWORD slot = kNoItem;
    std::string item;
    std::string what;
  };
  struct Report {
    DWORD slots = 0;  // the header's slot count
    DWORD items = 0;  // slots holding an item whose record can be read
    DWORD empty = 0;
    std::vector<Finding> findings;
    bool Sound() const { return findings.empty(); }
  };
  // Checks everything the format lets a reader see: the header's fields,
  // the slot chain (loops, links and slots outside the file, its length
  // against the slot count, the contiguous layout), every record (descriptor,
  // method, lengths, stored bytes inside the file, no two records or a record
  // and the slot words or table sharing bytes), the hash table (inside the
  // file, in order, one entry per item carrying its name's hash, nothing
  // beyond the slot count but padding, every name found) and, with
  // `contents`, every stream read whole (checksums and lengths). A writable
  // container is checked as it stands in memory where it differs from the
  // file (a rebuilt table not yet written). Reads only; takes the file mutex.
  Report Verify(bool contents);
  // Name of the backup that Compact leaves beside path ("base.dat" -> "base.bak").
  static std::string BackupName(const std::string& path);
  // The reserved header word of this container: read from its header, 0 for
  // a container created here, carried unchanged into every header it writes
  // (Compact's new file included).
  DWORD ReservedWord() const { return m_dwReserved; }
  // True when the container was found with the write mark of a writer that
  // did not finish (killed, or its Close failed). Its slot count and hash
  // table were then rebuilt from the slot chain; a writable container writes
  // them back at Close.
  bool FoundInterruptedWrite() const { return m_bInterrupted; }

 protected:
  static int CompareHash(const void* a, const void* b);

 private:
  // One item record as it lies in the file.
  struct Record {
    FileItemPtr item;
    DWORD offset = 0;           // of the descriptor
    DWORD dataOffset = 0;       // of the stored bytes
    DWORD method = 0;
    DWORD contentsLength = 0;
    DWORD storedLength = 0;
    bool sound = false;  // stored bytes inside the file, contents length plausible
  };

  // All helpers below are called with the file mutex held.
  DWORD FileLength() const;
  bool ReadAt(DWORD offset, void* buffer, UINT count);
  bool OverlapsDiskTable(ULONGLONG offset, ULONGLONG count) const;
  DWORD ReadWord(DWORD offset);
  // WriteRaw and SetFileLength change the file; the first change of a
  // session writes the marked header first. WriteAt also counts what it
  // writes as live (items, slot blocks).
  void WriteRaw(DWORD offset, const void* buffer, UINT count);
  void SetFileLength(ULONGLONG length);
  void WriteAt(DWORD offset, const void* buffer, UINT count);
  // A change of words the slot chain already reaches: never left half done
  // by a writer's death (see the definition).
  void WriteLive(DWORD offset, const void* buffer, UINT count);
  void WriteWord(DWORD offset, DWORD value);
  // The header as it stands in memory; marked: with the write mark and no table.
  void PutHeader(bool marked);
  // The marked header (begins a writing session when none is open).
  void WriteHeader();
  // Writes the table, then the unmarked header naming it; ends the session.
  void FinishWrite();
  void ReadHeaderAndTable(CFile& file);
  // The redo record a marked header names, if it can be read.
  void ReadRedoRecord(CFile& file, DWORD offset);
  void RecoverInterruptedWrite();
  // Walks the slot chain, collecting at most `limit` slots.
  SlotChain WalkChain(DWORD limit);
  void ResetState();
  void WriteHashTable();
  void RebuildHashTable();
  // The table as the file holds it: sorted, exactly slotCount entries, padded
  // with entries that name no slot.
  static std::vector<BYTE> TableImage(const std::vector<HashEntry>& entries, DWORD slotCount);
  void EnsureSlotWords();
  void ComputeLiveEnd();
  FileItemPtr ReadItemAt(DWORD recordOffset, DWORD fileLength);
  // "slot 5 (DU\\D97034.HTM)", for messages.
  static std::string SlotLabel(DWORD index, const _FILEITEM* item);
  bool ReadRecord(DWORD index, Record& rec);
  DWORD InsertRecord(CMemFile& record, const _FILEITEM* item, DWORD index, bool replacing);
  // Whether `words` slot words (and the end marker and link behind them)
  // fit in place at `tail`, where the slot table's last block ends.
  bool SlotRoomAt(DWORD tail, DWORD words);
  // Stores a record in a new last slot whose block goes to the end of the
  // file together with it; false (nothing written) when the table can grow
  // in place instead, which the general path does.
  bool AppendAtEnd(CMemFile& record, const _FILEITEM* item);
  void MarkEmpty(DWORD index);
  void UpdateHash(const _FILEITEM* item, DWORD index, bool slotWasFree);
  void AppendHash(const _FILEITEM* item, DWORD index);
  // Sorts the appended entries into the table (callers hold the file mutex);
  // every use of the table's order comes after it.
  void SettleHash();
  void StartPerformanceThread();
  void StopPerformanceThread();
  // Compaction and union (file_server_compact.cpp).
  static DWORD CopyRecords(CFileServer& from, const std::vector<DWORD>& slots, CFile& to, DWORD pos,
                           std::vector<DWORD>& offsets, std::vector<std::string>* names);
  void WriteCompacted(const std::string& target);
  static int SwapInCompacted(const std::string& path, const std::string& compacted);
  // Parts of Verify (file_server_verify.cpp).
  class Verifier;
  // Words of the file read through a window of a few pages (file_server.cpp).
  class WordWindow;

  // Offsets of the slot words in chain order, found by one walk of the chain
  // and kept current by every write, so that no lookup walks the chain again.
  std::vector<DWORD> m_slotWords;
  bool m_bSlotWordsValid = false;
  // End of the last byte any item or slot block occupies (writable only):
  // the hash table is never written in front of it.
  DWORD m_dwLiveEnd = 0;
  // The end marker of the last slot when this writer appended that slot's
  // block itself (0: not known): behind the marker and link lies the first
  // word of the record it wrote, which is never 0, so the table has no room
  // to grow there and the next append need not read the words to learn it.
  // Any write over those 12 bytes, and any change of the file's length,
  // forgets it.
  DWORD m_dwFullTail = 0;
  // The file's length, taken at open, when it is open for reading only.
  bool m_bLengthFixed = false;
  DWORD m_dwFixedLength = 0;
  // For the same reason, the record offset of each slot once read (kNoItem:
  // not read yet); empty while the container is writable.
  std::vector<DWORD> m_slotValues;
  // Opened for writing, this container makes every change of the file's
  // length itself: the length is kept here once asked of the system, not
  // asked again on every insertion. A write that fails (or one that does not
  // go through the helpers, as the union's copy) makes it unknown again.
  mutable bool m_bLengthKnown = false;
  mutable ULONGLONG m_ullLength = 0;
  // The table as it lies in the file (offset, bytes), and whether anything
  // live has been written over it or lies in it: a table that has not grown
  // and is untouched is written again in its place.
  DWORD m_dwDiskTable = 0;
  DWORD m_dwDiskTableBytes = 0;
  bool m_bDiskTableHit = false;
  DWORD m_dwReserved = 0;      // reserved header word of this container
  // Bytes written since the disk was last asked to take them: a long run of
  // writes (a build) is written out as it goes, so that the close waits for
  // the last part only.
  ULONGLONG m_ullWrittenBehind = 0;
  bool m_bWriting = false;     // the write mark is in the file (a change since Init)
  bool m_bInterrupted = false; // the mark was found at Init
  DWORD m_dwRedo = 0;          // the redo record the header names now (during WriteLive)
  // A redo record found at Init: its offset, and the change it holds. A
  // read-only container reads the file as if the change were made.
  struct PendingChange {
    DWORD record = 0;
    DWORD target = 0;
    std::vector<BYTE> bytes;
  } m_pending;
  std::thread m_performanceThread;
};
