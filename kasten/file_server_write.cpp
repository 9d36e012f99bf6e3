// CFileServer: writing items. Items are always appended at the end of the
// file; a slot word is only ever rewritten to point elsewhere or marked empty,
// and an insertion before an occupied slot splits the slot chain.
//
// Every write here leaves the container sound at each step: the new bytes
// (record, slot block) are written first, the word that makes them reachable
// last, and an item is encoded completely before anything is written, so a
// failing source or codec leaves the container as it was.
#include <algorithm>
#include <cstring>
#include <optional>

#include "kasten/codec.h"
#include "kasten/file_server.h"
#include "platform/coding.h"

namespace {

// The record of an item being written. Each thread keeps one buffer from item
// to item: a base of thousands of documents then does not ask the system for
// fresh memory, and take its page faults, for every record. A buffer grown
// beyond kKeptBytes by a very large item is given back after it; a write
// nested in another on the same thread gets a buffer of its own.
class CRecordBuffer {
 public:
  CRecordBuffer() {
    if (t_busy) {
      m_own.emplace(4096);
      return;
    }
    t_busy = true;
    t_record.SetLength(0);
    t_record.SeekToBegin();
  }
  ~CRecordBuffer() {
    if (m_own) return;
    if (t_record.Capacity() > kKeptBytes) t_record.Close();
    t_busy = false;
  }
  CRecordBuffer(const CRecordBuffer&) = delete;
  CRecordBuffer& operator=(const CRecordBuffer&) = delete;
  CMemFile& File() { return m_own ? *m_own : t_record; }

 private:
  static constexpr std::size_t kKeptBytes = 4u << 20;
  static thread_local CMemFile t_record;
  static thread_local bool t_busy;
  std::optional<CMemFile> m_own;
};

thread_local CMemFile CRecordBuffer::t_record{65536};
thread_local bool CRecordBuffer::t_busy = false;

}  // namespace

// Builds the whole item record in memory: descriptor, method, contents length,
// stored length, stored bytes. False (nothing written) for a descriptor that
// is not sound or an unknown method.
bool CFileServer::EncodeRecord(CFile& src, const _FILEITEM* item, DWORD method, CMemFile& record) {
  if (!item || item->wSize < 3 || !std::memchr(item->szName, 0, item->wSize - 2u)) return false;
  std::unique_ptr<Codec> codec = CreateCodec(method);
  if (!codec) return false;  // a method no codec knows: nothing is written
  ULONGLONG contents = src.GetLength();
  if (contents > 0xFFFFFFFFull) throw CFileException(CFileException::diskFull, EFBIG, src.GetFilePath());
  record.Write(item, item->wSize);
  BYTE fields[12] = {};
  record.Write(fields, 12);
  codec->Compress(&src, &record);
  DWORD stored = static_cast<DWORD>(record.GetLength()) - item->wSize - 12;
  EncodeLe32(fields, method);
  EncodeLe32(fields + 4, static_cast<DWORD>(contents));
  EncodeLe32(fields + 8, stored);
  std::memcpy(record.GetBuffer() + item->wSize, fields, 12);
  return true;
}

DWORD CFileServer::InsertFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method) {
  if (!IsWritable() || index == kNoItem) return kNoItem;
  CRecordBuffer record;
  if (!EncodeRecord(src, item, method, record.File())) return kNoItem;
  return InsertEncoded(record.File(), item, index);
}

DWORD CFileServer::AddFile(CFile& src, const _FILEITEM* item, DWORD method) {
  if (!IsWritable()) return kNoItem;
  CSingleLock lock(m_mutexFile);
  return InsertFile(src, item, m_dwSize, method);
}

DWORD CFileServer::ReplaceFile(CFile& src, const _FILEITEM* item, DWORD index, DWORD method) {
  if (!IsWritable() || index == kNoItem) return kNoItem;
  // Encode before the old item is let go, so a failure cannot lose it.
  CRecordBuffer record;
  if (!EncodeRecord(src, item, method, record.File())) return kNoItem;
  return ReplaceEncoded(record.File(), item, index);
}

DWORD CFileServer::InsertEncoded(CMemFile& record, const _FILEITEM* item, DWORD index) {
  if (!IsWritable() || index == kNoItem) return kNoItem;
  CSingleLock lock(m_mutexFile);
  return InsertRecord(record, item, index, false);
}

DWORD CFileServer::ReplaceEncoded(CMemFile& record, const _FILEITEM* item, DWORD index) {
  if (!IsWritable() || index == kNoItem) return kNoItem;
  CSingleLock lock(m_mutexFile);
  return InsertRecord(record, item, index, index < m_dwSize);
}

void CFileServer::RemoveFile(DWORD index) {
  if (!IsWritable()) return;
  CSingleLock lock(m_mutexFile);
  if (index >= m_dwSize) return;
  MarkEmpty(index);
  OnRemove(index);
}

void CFileServer::MarkEmpty(DWORD index) {
  EnsureSlotWords();
  if (index < m_slotWords.size()) WriteWord(m_slotWords[index], kNoItem);
  m_dwLayout = 0;
}

// `replacing`: the slot's item gives way to the new one. The slot word is
// switched from the old record to the new one in one write, so that a writer
// killed in between leaves one of the two, never an empty slot.
DWORD CFileServer::InsertRecord(CMemFile& record, const _FILEITEM* item, DWORD index, bool replacing) {
  if (!replacing && index == m_dwSize && AppendAtEnd(record, item)) return index;
  bool slotWasFree = true;
  if (index >= m_dwSize) SetSize(index + 1, FALSE);
  EnsureSlotWords();
  if (index >= m_slotWords.size())
    throw CXException(CXException::damaged, GetFilePath(), SlotLabel(index, nullptr),
                      "the slot chain ends before this slot (verify tells why); nothing was written");
  const DWORD b = m_slotWords[index];
  const DWORD cur = replacing ? kNoItem : ReadWord(b);
  const DWORD length = FileLength();
  const UINT recordSize = static_cast<UINT>(record.GetLength());

  if (cur != kNoItem) {
    // Split: slot `index` moves to a new block at the end, followed by the
    // item it held and the slot after it; the old word becomes an end of
    // block that links there, and the chain continues where it did.
    DWORD next = ReadWord(b + 4);
    DWORD cont;
    if (next == 0) {
      cont = ReadWord(b + 8);
    } else {
      cont = b + 8;
      if (ReadWord(b + 8) == 0) cont = ReadWord(b + 12);
    }
    const DWORD L = length;
    BYTE block[20];
    UINT blockSize = 0;
    auto put = [&](DWORD v) {
      EncodeLe32(block + blockSize, v);
      blockSize += 4;
    };
    put(0);  // the new slot; its value is known once the block size is
    put(cur);
    put(next);
    if (next != 0) put(0);
    put(cont);
    const DWORD D = L + blockSize;
    EncodeLe32(block, D);
    WriteAt(D, record.GetBuffer(), recordSize);
    WriteAt(L, block, blockSize);
    BYTE link[8];
    EncodeLe32(link, 0);
    EncodeLe32(link + 4, L);
    WriteLive(b, link, 8);

    m_slotWords[index] = L + 4;
    if (next != 0 && index + 1 < m_slotWords.size()) m_slotWords[index + 1] = L + 8;
    m_slotWords.insert(m_slotWords.begin() + index, L);
    ++m_dwSize;
    slotWasFree = false;
    OnInsert(index);
  } else {
    WriteAt(length, record.GetBuffer(), recordSize);
    if (replacing) OnRemove(index);
    WriteWord(b, length);
  }
  UpdateHash(item, index, slotWasFree);
  m_dwLayout = 0;
  WriteHeader();
  return index;
}

// Adding items one after another, the slot table can almost never grow in
// place (the previous record lies right behind it), so every new slot is a
// block of its own at the end of the file: the slot, an end marker and a
// link, with the record behind it. Growing the table (SetSize) and then
// storing the record (the general path of InsertRecord) writes the block,
// the link to it, the header, the record, the slot word and the header
// again. Here the block, already naming its record, and the record go out
// in one write, then the link: the same bytes in the end, and nothing
// reaches the block before the link does, as there.
//
// The header is not written for each item appended. Its slot count and
// layout are only read from a header without the write mark; this session's
// mark is on the disk before its first change, an open that finds it counts
// the chain as it stands, and the close writes the final header. A reader
// that does not know the mark sees the slots the header last counted, which
// appending leaves where the header's layout says they lie. Each append is
// then two writes instead of three, and no read (see m_dwFullTail): about a
// third of what adding a document costs beyond compressing it.
bool CFileServer::AppendAtEnd(CMemFile& record, const _FILEITEM* item) {
  EnsureSlotWords();
  if (m_dwSize != m_slotWords.size()) return false;  // the general path reports the broken chain
  const DWORD tail = m_dwSize == 0 ? kHeaderSize : m_slotWords[m_dwSize - 1] + 4;
  if (tail != m_dwFullTail && SlotRoomAt(tail, 1)) return false;
  const DWORD start = FileLength();
  const UINT recordSize = static_cast<UINT>(record.GetLength());
  BYTE block[12] = {};
  EncodeLe32(block, start + sizeof block);  // the slot; then the end marker and link, 0
  // One write for both unless the record is large enough that copying it
  // costs more than a second write.
  constexpr UINT kJoinedWrite = 256 * 1024;
  if (recordSize <= kJoinedWrite) {
    std::vector<BYTE> both(sizeof block + recordSize);
    std::memcpy(both.data(), block, sizeof block);
    std::memcpy(both.data() + sizeof block, record.GetBuffer(), recordSize);
    WriteAt(start, both.data(), static_cast<UINT>(both.size()));
  } else {
    WriteAt(start, block, sizeof block);
    WriteAt(start + sizeof block, record.GetBuffer(), recordSize);
  }
  BYTE link[8];
  EncodeLe32(link, 0);
  EncodeLe32(link + 4, start);
  WriteLive(tail, link, 8);
  m_slotWords.push_back(start);
  ++m_dwSize;
  AppendHash(item, m_dwSize - 1);
  m_dwLayout = 0;
  if (recordSize >= 4 && DecodeLe32(record.GetBuffer()) != 0) m_dwFullTail = start + 4;
  return true;
}

bool CFileServer::SlotRoomAt(DWORD tail, DWORD words) {
  // Words past the end of the file count as 0; a word cut by the end of the
  // file is no room. The words are read in one piece (an append asks for
  // three, once per item), a few kilobytes at a time for a large growth.
  const ULONGLONG length = FileLength();
  const ULONGLONG wanted = 4 * (ULONGLONG(words) + 2);
  const ULONGLONG inFile = tail >= length ? 0 : std::min<ULONGLONG>(wanted, length - tail);
  BYTE buffer[4096];
  for (ULONGLONG done = 0; done < inFile;) {
    const UINT n = static_cast<UINT>(std::min<ULONGLONG>(sizeof buffer, inFile - done));
    if (!ReadAt(static_cast<DWORD>(tail + done), buffer, n))
      throw CFileException(CFileException::endOfFile, 0, GetFilePath());
    for (UINT k = 0; k + 4 <= n; k += 4)
      if (DecodeLe32(buffer + k) != 0) return false;
    done += n;
  }
  return inFile % 4 == 0;
}

// Keeps the hash table sorted by inserting at the sorted place; equal hashes
// may stand in any order.
void CFileServer::UpdateHash(const _FILEITEM* item, DWORD index, bool slotWasFree) {
  SettleHash();
  const HashEntry entry{index, MakeHash(LastComponent(item->szName))};
  auto insertSorted = [this](HashEntry e) {
    auto at = std::upper_bound(m_aHash.begin(), m_aHash.end(), e,
                               [](const HashEntry& x, const HashEntry& y) { return x.dwHash < y.dwHash; });
    m_aHash.insert(at, e);
  };
  const DWORD end = FileLength();
  if (slotWasFree) {
    auto old = std::find_if(m_aHash.begin(), m_aHash.end(), [index](const HashEntry& e) { return e.dwIndex == index; });
    if (old != m_aHash.end()) {
      m_aHash.erase(old);  // same size: the table goes where it was
      insertSorted(entry);
      return;
    }
  } else {
    for (auto& e : m_aHash)
      if (e.dwIndex >= index) ++e.dwIndex;
  }
  insertSorted(entry);
  m_dwHashOffset = end;
}

// A new last slot, which no entry names yet (entries name slots below the
// count): its entry waits at the end of the table until its order is needed.
void CFileServer::AppendHash(const _FILEITEM* item, DWORD index) {
  m_aHash.push_back({index, MakeHash(LastComponent(item->szName))});
  ++m_hashUnsorted;
  m_dwHashOffset = FileLength();
}

DWORD CFileServer::SetSize(DWORD count, BOOL lock) {
  if (!IsWritable()) return kNoItem;
  CSingleLock fileLock(m_mutexFile, std::defer_lock);
  if (lock) fileLock.lock();
  if (count == m_dwSize) return count;
  EnsureSlotWords();

  if (count < m_dwSize) {
    m_bStop = TRUE;
    { CSingleLock maint(m_mutexMaint); }
    // End the chain right behind the new last slot (at offset 40 when none
    // is left), so that neither growing again nor a walk of the whole chain
    // reaches the slots given up here.
    if (count <= m_slotWords.size()) {
      BYTE end[8] = {};
      WriteLive(count > 0 ? m_slotWords[count - 1] + 4 : kHeaderSize, end, 8);
    }
    if (m_slotWords.size() > count) m_slotWords.resize(count);
    SettleHash();
    m_aHash.erase(std::remove_if(m_aHash.begin(), m_aHash.end(), [count](const HashEntry& e) { return e.dwIndex >= count; }),
                  m_aHash.end());
    m_dwSize = count;
    m_bStop = FALSE;
    StartPerformanceThread();
  } else {
    const DWORD n = count - m_dwSize;
    const DWORD length = FileLength();
    if (m_dwSize > m_slotWords.size())
      throw CXException(CXException::damaged, GetFilePath(), SlotLabel(static_cast<DWORD>(m_slotWords.size()), nullptr),
                        "the slot chain ends before the last slot (verify tells why); the table was not grown");
    // Where the block ends now: behind the last slot, or at offset 40.
    const DWORD tail = m_dwSize == 0 ? kHeaderSize : m_slotWords[m_dwSize - 1] + 4;
    // The new slots, a marker and a link fit in place when that many words
    // from there are 0.
    const bool room = SlotRoomAt(tail, n);
    const DWORD start = room ? tail : length;
    std::vector<BYTE> block((static_cast<std::size_t>(n) + 2) * 4, 0);
    for (DWORD i = 0; i < n; ++i) EncodeLe32(&block[i * 4], kNoItem);
    // In place the block replaces words the chain reaches (its end marker);
    // at the end of the file nothing reaches it until the link below.
    if (room) WriteLive(start, block.data(), static_cast<UINT>(block.size()));
    else WriteAt(start, block.data(), static_cast<UINT>(block.size()));
    if (!room) {
      // The old end of block links to the new block.
      BYTE link[8];
      EncodeLe32(link, 0);
      EncodeLe32(link + 4, start);
      WriteLive(tail, link, 8);
    }
    for (DWORD i = 0; i < n; ++i) m_slotWords.push_back(start + 4 * i);
    m_dwSize = count;
  }
  m_dwLayout = 0;
  WriteHeader();
  return count;
}

void CFileServer::SetGuid(GUID guid) {
  if (!IsWritable()) return;
  CSingleLock lock(m_mutexFile);
  m_Guid = guid;
  WriteHeader();
}

// One entry per slot that holds an item, sorted. Empty and unreadable slots
// get no entry: no lookup can return them.
void CFileServer::RebuildHashTable() {
  m_aHash.clear();
  m_aHash.reserve(m_dwSize);
  for (DWORD i = 0; i < m_dwSize; ++i) {
    FileItemPtr item(GetItem(i));
    if (item) m_aHash.push_back({i, MakeHash(LastComponent(item->szName))});
  }
  SortHashTable();
}

void CFileServer::CreateHashTable() {
  if (!IsWritable()) return;
  CSingleLock lock(m_mutexFile);
  RebuildHashTable();
  WriteHeader();
  m_dwHashOffset = FileLength();
}

// The end of the last byte that an item or slot block of this container
// occupies; the hash table is only ever written behind it.
void CFileServer::ComputeLiveEnd() {
  CSingleLock lock(m_mutexFile);
  EnsureSlotWords();
  DWORD end = kHeaderSize;
  DWORD length = FileLength();
  for (DWORD w : m_slotWords) {
    // A slot word may be followed by an end-of-block marker and its link.
    ULONGLONG blockEnd = static_cast<ULONGLONG>(w) + 12;
    if (OverlapsDiskTable(w, 4)) m_bDiskTableHit = true;
    if (blockEnd > end) end = static_cast<DWORD>(blockEnd < length ? blockEnd : length);
  }
  if (m_dwSize == 0 && length >= kHeaderSize + 8) end = kHeaderSize + 8;
  for (DWORD i = 0; i < m_dwSize; ++i) {
    Record rec;
    if (!ReadRecord(i, rec)) continue;
    ULONGLONG recordEnd = static_cast<ULONGLONG>(rec.dataOffset) + rec.storedLength;
    if (recordEnd > length) recordEnd = length;
    // A table that a record runs into (a damaged or foreign file) is never written in place.
    if (recordEnd > rec.offset && OverlapsDiskTable(rec.offset, recordEnd - rec.offset)) m_bDiskTableHit = true;
    if (recordEnd > end) end = static_cast<DWORD>(recordEnd);
  }
  m_dwLiveEnd = end;
}
