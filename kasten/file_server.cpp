// CFileServer: opening, closing, the slot walk, the name hash and the
// background task. Reading items is in file_server_read.cpp, writing in
// file_server_write.cpp, compaction and union in file_server_compact.cpp.
#include "kasten/file_server.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kasten/container_header.h"
#include "kasten/slot_chain.h"
#include "platform/coding.h"
#include "platform/message_box.h"
#include "platform/write_behind.h"

namespace {

// Open failures that waiting may cure besides a lock held by another process
// (too many open files, a transient I/O error) are retried this often.
constexpr int kOpenAttempts = 3;

}  // namespace

CFileServer::CFileServer() = default;

CFileServer::CFileServer(const char* path, const GUID* guid, UINT openFlags) {
  CFileServer::Init(path, guid, openFlags);
}

CFileServer::~CFileServer() {
  try {
    CFileServer::Close();
  } catch (...) {
    // A destructor cannot report; the file is released below in any case.
  }
  StopPerformanceThread();
  delete m_pFile;
  m_pFile = nullptr;
}

// --- small file helpers (callers hold the file mutex) -----------------------

DWORD CFileServer::FileLength() const {
  if (m_bLengthFixed) return m_dwFixedLength;
  ULONGLONG n = m_bLengthKnown ? m_ullLength : m_pFile->GetLength();
  if (IsWritable()) {
    m_ullLength = n;
    m_bLengthKnown = true;
  }
  return n > 0xFFFFFFFFull ? 0xFFFFFFFF : static_cast<DWORD>(n);
}

bool CFileServer::ReadAt(DWORD offset, void* buffer, UINT count) {
  m_pFile->Seek(offset, CFile::begin);
  if (m_pFile->Read(buffer, count) != count) return false;
  if (!m_pending.bytes.empty()) {
    // A read-only container reads an interrupted change as made.
    const ULONGLONG target = m_pending.target, n = m_pending.bytes.size();
    const ULONGLONG from = std::max<ULONGLONG>(offset, target), to = std::min<ULONGLONG>(offset + ULONGLONG(count), target + n);
    if (from < to)
      std::memcpy(static_cast<BYTE*>(buffer) + (from - offset), m_pending.bytes.data() + (from - target), to - from);
  }
  return true;
}

// The slot walk and the reading of every slot's value go word by word
// through words that mostly lie together: read one at a time, each word cost
// a system call (tens of milliseconds for a base of 20,000 items). The
// window reads through ReadAt (so an interrupted change reads as made),
// never past the file's length. A read away from the window takes a small
// one (a slot block beside its item, as appended items have them, holds its
// slot, marker and link in 12 bytes: one read, little copied); reads that
// go on ahead of the window, up to a window's largest size past its end,
// double it, up to 64 KB: a table of many slots in one block, and the chain
// of a base whose documents were appended one by one, a block beside each
// item, a few kilobytes apart (60,000 reads for a base of 60,000 documents,
// 0.15 s of its opening, before the windows were allowed to run ahead).
class CFileServer::WordWindow {
 public:
  explicit WordWindow(CFileServer& server) : m_server(server), m_length(server.FileLength()) {}

  bool Read(DWORD at, DWORD& value) {
    if (ULONGLONG(at) + 4 > m_length) return false;
    if (at < m_start || ULONGLONG(at) + 4 > ULONGLONG(m_start) + m_filled) {
      const bool onward = m_filled != 0 && at >= m_start && ULONGLONG(at - m_start) < ULONGLONG(m_filled) + kLargest;
      m_size = onward ? std::min<UINT>(2 * m_size, kLargest) : kSmall;
      m_start = at;
      m_filled = static_cast<UINT>(std::min<ULONGLONG>(m_size, m_length - at));
      if (!m_server.ReadAt(m_start, m_bytes, m_filled)) {
        m_filled = 0;  // a file cut meanwhile: the word alone says what is there
        BYTE b[4];
        if (!m_server.ReadAt(at, b, 4)) return false;
        value = DecodeLe32(b);
        return true;
      }
    }
    value = DecodeLe32(m_bytes + (at - m_start));
    return true;
  }

 private:
  static constexpr UINT kSmall = 64;
  static constexpr UINT kLargest = 65536;
  CFileServer& m_server;
  const ULONGLONG m_length;
  DWORD m_start = 0;
  UINT m_filled = 0;  // bytes of the window read, from m_start (at least 4 when read)
  UINT m_size = kSmall;
  BYTE m_bytes[kLargest];
};

// What a slot word says of its item: a record offset, or 0 for an empty
// slot (the word kNoItem).
static DWORD RecordOffsetOf(DWORD slotWord) { return slotWord == CFileServer::kNoItem ? 0 : slotWord; }

DWORD CFileServer::ReadWord(DWORD offset) {
  BYTE b[4];
  if (!ReadAt(offset, b, 4)) throw CFileException(CFileException::endOfFile, 0, GetFilePath());
  return DecodeLe32(b);
}

// Every change of the file goes through here: the first one of a writing
// session puts the write mark into the header first (and on the disk), so
// that a writer killed at any later moment leaves a file that says so.
void CFileServer::WriteRaw(DWORD offset, const void* buffer, UINT count) {
  if (!m_bWriting) WriteHeader();
  const bool known = m_bLengthKnown;
  m_bLengthKnown = false;  // until the write is done
  if (m_dwFullTail != 0 && offset < ULONGLONG(m_dwFullTail) + 12 && ULONGLONG(offset) + count > m_dwFullTail)
    m_dwFullTail = 0;
  m_pFile->Seek(offset, CFile::begin);
  m_pFile->Write(buffer, count);
  WriteBehind(*m_pFile, m_ullWrittenBehind, count);
  if (known) {
    m_ullLength = std::max<ULONGLONG>(m_ullLength, ULONGLONG(offset) + count);
    m_bLengthKnown = true;
  }
}

void CFileServer::SetFileLength(ULONGLONG length) {
  if (!m_bWriting) WriteHeader();
  m_bLengthKnown = false;
  m_dwFullTail = 0;
  m_pFile->SetLength(length);
  m_ullLength = length;
  m_bLengthKnown = true;
}

void CFileServer::WriteAt(DWORD offset, const void* buffer, UINT count) {
  WriteRaw(offset, buffer, count);
  if (offset + count > m_dwLiveEnd) m_dwLiveEnd = offset + count;
  if (OverlapsDiskTable(offset, count)) m_bDiskTableHit = true;
}

// A change of words that the slot chain already reaches, cut half way, would
// leave a word that is neither its old value nor its new one. The kernel
// copies a write into the file a page at a time and the death of the writer
// falls between pages only, and disks write a 512-byte sector whole: a change
// inside one sector is never cut. One that crosses a sector boundary is
// first written as a redo record behind the end of the file (target offset,
// byte count, bytes) and named in the header; an open that finds it named
// makes the change again. The record is cut off afterwards, so the file
// ends as it would have without it.
void CFileServer::WriteLive(DWORD offset, const void* buffer, UINT count) {
  constexpr DWORD kSector = 512;
  if (count == 0 || offset / kSector == (offset + count - 1) / kSector) {
    WriteAt(offset, buffer, count);
    return;
  }
  // Growing the slot table in place may write past the end of the file.
  const DWORD end = std::max(FileLength(), offset + count);
  std::vector<BYTE> redo(8 + static_cast<std::size_t>(count));
  EncodeLe32(&redo[0], offset);
  EncodeLe32(&redo[4], count);
  std::memcpy(&redo[8], buffer, count);
  WriteRaw(end, redo.data(), static_cast<UINT>(redo.size()));
  m_dwRedo = end;
  WriteHeader();
  WriteAt(offset, buffer, count);
  m_dwRedo = 0;
  WriteHeader();
  SetFileLength(end);
}

void CFileServer::WriteWord(DWORD offset, DWORD value) {
  BYTE b[4];
  EncodeLe32(b, value);
  WriteLive(offset, b, 4);
}

void CFileServer::PutHeader(bool marked) {
  ContainerHeader h;
  h.slotCount = m_dwSize;
  h.layout = m_dwLayout;
  h.guid = m_Guid;
  h.reserved = m_dwReserved;
  // While marked the header names no table: the one on disk may be stale or
  // half rewritten, and the table in memory is not written until Close.
  h.hashOffset = marked ? 0 : m_dwHashOffset;
  h.writeMark = marked ? ContainerHeader::kWriteMark : 0;
  h.redoOffset = marked ? m_dwRedo : 0;
  BYTE b[ContainerHeader::kSize];
  h.Encode(b);
  const bool known = m_bLengthKnown;
  m_bLengthKnown = false;
  m_pFile->Seek(0, CFile::begin);
  m_pFile->Write(b, sizeof b);
  if (known) {
    m_ullLength = std::max<ULONGLONG>(m_ullLength, sizeof b);
    m_bLengthKnown = true;
  }
}

void CFileServer::WriteHeader() {
  const bool first = !m_bWriting;
  m_bWriting = true;
  PutHeader(true);
  // The mark must be on the disk before any change it announces.
  if (first) m_pFile->Flush();
}

// The end of a writing session: the table goes to the disk first, the header
// that names it and drops the mark only when the table is there.
void CFileServer::FinishWrite() {
  if (m_dwHashOffset != 0) WriteHashTable();
  m_pFile->Flush();
  PutHeader(false);
  m_pFile->Flush();
  m_bWriting = false;
}

// --- Init / Close -----------------------------------------------------------

void CFileServer::ReadHeaderAndTable(CFile& file) {
  BYTE raw[ContainerHeader::kSize];
  file.SeekToBegin();
  ULONGLONG length = file.GetLength();
  if (length < kHeaderSize || length > 0xFFFFFFFFull || file.Read(raw, sizeof raw) != sizeof raw)
    throw CFileException(CFileException::invalidFile, 0, file.GetFilePath());
  const ContainerHeader h = ContainerHeader::Decode(raw);
  // Every slot needs a word of its own after the header; a count beyond that,
  // or a table outside the file, is a damaged header.
  if (h.slotCount > (length - kHeaderSize) / 4 ||
      (h.hashOffset != 0 && (h.hashOffset < kHeaderSize || h.hashOffset > length)))
    throw CFileException(CFileException::invalidFile, 0, file.GetFilePath());
  const bool interrupted = h.writeMark == ContainerHeader::kWriteMark;

  std::vector<HashEntry> table;
  DWORD tableBytes = 0;
  if (h.hashOffset != 0 && h.slotCount > 0 && !interrupted) {
    // A table written by a writer that did not pad it to the slot count may
    // hold fewer entries; read what the file holds.
    ULONGLONG fits = (length - h.hashOffset) / 8;
    DWORD entries = static_cast<DWORD>(fits < h.slotCount ? fits : h.slotCount);
    std::vector<BYTE> bytes(static_cast<std::size_t>(entries) * 8);
    file.Seek(h.hashOffset, CFile::begin);
    if (file.Read(bytes.data(), static_cast<UINT>(bytes.size())) != bytes.size())
      throw CFileException(CFileException::endOfFile, 0, file.GetFilePath());
    table.reserve(entries);
    for (DWORD i = 0; i < entries; ++i) {
      HashEntry e{DecodeLe32(&bytes[i * 8]), DecodeLe32(&bytes[i * 8 + 4])};
      // Entries that name no slot (padding, damage) could only ever answer "no item".
      if (e.dwIndex < h.slotCount) table.push_back(e);
    }
    tableBytes = entries * 8;
  }
  m_dwReserved = h.reserved;
  m_dwSize = h.slotCount;
  m_dwLayout = h.layout;
  m_Guid = h.guid;
  m_dwHashOffset = h.hashOffset;
  m_dwDiskTable = tableBytes ? h.hashOffset : 0;
  m_dwDiskTableBytes = tableBytes;
  m_aHash = std::move(table);
  m_hashUnsorted = 0;
  m_bInterrupted = interrupted;
  if (interrupted && h.redoOffset != 0) ReadRedoRecord(file, h.redoOffset);
}

// A redo record that cannot be read whole was never named by the header
// (it is written before it is named): the change it would hold was not begun.
void CFileServer::ReadRedoRecord(CFile& file, DWORD offset) {
  const ULONGLONG length = file.GetLength();
  BYTE head[8];
  if (offset < kHeaderSize || offset + 8ull > length) return;
  file.Seek(offset, CFile::begin);
  if (file.Read(head, 8) != 8) return;
  const DWORD target = DecodeLe32(head), count = DecodeLe32(head + 4);
  if (count == 0 || offset + 8ull + count > length || target < kHeaderSize || target + ULONGLONG(count) > offset) return;
  std::vector<BYTE> bytes(count);
  if (file.Read(bytes.data(), count) != count) return;
  m_pending = PendingChange{offset, target, std::move(bytes)};
}

bool CFileServer::OverlapsDiskTable(ULONGLONG offset, ULONGLONG count) const {
  return m_dwDiskTableBytes != 0 && offset < static_cast<ULONGLONG>(m_dwDiskTable) + m_dwDiskTableBytes &&
         offset + count > m_dwDiskTable;
}

// A writer was killed after it had begun to change the file. What it wrote
// is sound up to the slot chain (every record and block is written before the
// word that makes it reachable), but the header's slot count and the table
// may lag behind: the chain is taken as it stands and the table is built anew
// from the descriptors. A writable container writes both at Close; until then
// the mark stays, so a second kill is recovered the same way.
void CFileServer::RecoverInterruptedWrite() {
  CSingleLock lock(m_mutexFile);
  if (IsWritable()) {
    m_bWriting = true;  // the mark is on the disk already
    if (!m_pending.bytes.empty()) {
      PendingChange change = std::move(m_pending);
      m_pending = PendingChange{};
      WriteRaw(change.target, change.bytes.data(), static_cast<UINT>(change.bytes.size()));
      WriteHeader();  // no longer names the record
      SetFileLength(change.record);
    }
  }
  SlotChain chain = WalkChain(kNoItem);
  m_dwSize = static_cast<DWORD>(chain.slots.size());
  m_slotWords = std::move(chain.slots);
  m_bSlotWordsValid = true;
  // A contiguous table is a valid chained one; the reverse is not known here.
  m_dwLayout = 0;
  m_dwHashOffset = 0;
  RebuildHashTable();
}

BOOL CFileServer::Init(const char* path, const GUID* guid, UINT openFlags) {
  m_bStop = TRUE;
  { CSingleLock wait(m_mutexMaint); }
  m_bStop = FALSE;
  if (m_pFile) return FALSE;
  ResetState();

  if (FileExists(path)) {
    int failures = 0;
    for (;;) {
      auto file = std::make_unique<CFile>();
      try {
        CFileException error;
        // An existing container is opened, never created anew: the create
        // flag would cut it to nothing (Compact reopens with the flags given).
        if (!file->Open(path, openFlags & ~UINT(CFile::modeCreate), &error)) throw error;
        ReadHeaderAndTable(*file);
        m_pFile = file.release();
        break;
      } catch (const CException& e) {
        ResetState();
        // A lock held by another process is waited for as long as it is held;
        // what waiting cannot cure (no permission, a damaged header) fails.
        const auto* fe = dynamic_cast<const CFileException*>(&e);
        int cause = fe ? fe->m_cause : CFileException::genericException;
        bool held = cause == CFileException::sharingViolation || cause == CFileException::lockViolation;
        bool transient = cause == CFileException::tooManyOpenFiles || cause == CFileException::hardIO ||
                         dynamic_cast<const CMemoryException*>(&e) != nullptr;
        if (!held && (!transient || ++failures >= kOpenAttempts)) return FALSE;
        MessageBox("I'm sleep 1000ms", "");
        Sleep(1000);
      }
    }
    m_nOpenFlags = openFlags;
    try {
      if (m_bInterrupted) RecoverInterruptedWrite();
      if (IsWritable()) ComputeLiveEnd();
    } catch (const CException&) {
      // The file cannot be walked (an I/O error): as unopenable as a damaged header.
      std::unique_ptr<CFile> file(m_pFile);
      m_pFile = nullptr;
      file->Abort();
      ResetState();
      return FALSE;
    }
    // The rebuilt table goes behind everything the file holds.
    if (m_bInterrupted && IsWritable()) m_dwHashOffset = std::max(FileLength(), m_dwLiveEnd);
    // Opened for reading, the file cannot change under this container: a
    // writer needs the exclusive lock that the shared one keeps out. Its
    // length is taken once instead of asked of the system on every read (a
    // file cut by a program that ignores the lock still reads short, which
    // the readers report).
    if (!IsWritable()) {
      m_dwFixedLength = FileLength();
      m_bLengthFixed = true;
    }
    StartPerformanceThread();
    return TRUE;
  }

  if (openFlags & CFile::modeWrite) openFlags = CFile::modeReadWrite;
  if (!(openFlags & 3) || !guid) return FALSE;
  m_Guid = *guid;
  auto file = std::make_unique<CFile>();
  try {
    CFileException error;
    if (!file->Open(path, CFile::modeCreate | CFile::modeReadWrite, &error)) return FALSE;
    m_pFile = file.get();
    m_pFile->SetLength(kHeaderSize);
    PutHeader(false);
  } catch (const CException&) {
    m_pFile = nullptr;
    file->Abort();
    DeleteFileAt(path);
    ResetState();
    return FALSE;
  }
  file.release();
  m_nOpenFlags = openFlags;
  m_dwLiveEnd = kHeaderSize;
  return TRUE;
}

void CFileServer::ResetState() {
  m_dwSize = 0;
  m_dwLayout = 1;
  m_dwHashOffset = 0;
  m_dwReserved = 0;
  m_nOpenFlags = 0;
  m_aHash.clear();
  m_hashUnsorted = 0;
  m_slotWords.clear();
  m_bSlotWordsValid = false;
  m_dwLiveEnd = 0;
  m_dwFullTail = 0;
  m_dwDiskTable = 0;
  m_dwDiskTableBytes = 0;
  m_bDiskTableHit = false;
  m_ullWrittenBehind = 0;
  m_bWriting = false;
  m_bInterrupted = false;
  m_dwRedo = 0;
  m_pending = PendingChange{};
  m_bLengthFixed = false;
  m_slotValues.clear();
  m_dwFixedLength = 0;
  m_bLengthKnown = false;
  m_ullLength = 0;
}

void CFileServer::Close() {
  if (!m_pFile) return;
  m_bStop = TRUE;
  CSingleLock maint(m_mutexMaint);
  CSingleLock lock(m_mutexFile);
  std::unique_ptr<CFile> file(m_pFile);
  try {
    // A container that was not changed is left as it is, byte for byte.
    if (IsWritable() && m_bWriting) FinishWrite();
    m_pFile = nullptr;
    file->Close();
  } catch (...) {
    // The mark stays in the file: the next open rebuilds what is missing.
    m_pFile = nullptr;
    file->Abort();
    ResetState();
    StopPerformanceThread();
    throw;
  }
  ResetState();
  StopPerformanceThread();
}

void CFileServer::StartWriteBack() {
  CSingleLock lock(m_mutexFile);
  if (m_pFile && IsWritable()) m_pFile->StartFlush();
}

// Writes the in-memory table over its old place when it has not grown and
// nothing live lies there; else at the pending position, or at the end of
// the file when something was written behind that position since. The table on
// disk always has exactly slot-count entries: slots without an entry get
// padding entries that name no slot (0xFFFFFFFF), so a reader that reads
// slot-count entries never reads anything else. The header names no table
// meanwhile (the write mark is set), so a table cut short is never read.
std::vector<BYTE> CFileServer::TableImage(const std::vector<HashEntry>& entries, DWORD slotCount) {
  std::vector<HashEntry> table;
  table.reserve(slotCount);
  for (const auto& e : entries)
    if (e.dwIndex < slotCount && table.size() < slotCount) table.push_back(e);
  while (table.size() < slotCount) table.push_back({kNoItem, 0xFFFFFFFF});
  qsort(table.data(), table.size(), sizeof(HashEntry), CompareHash);
  std::vector<BYTE> raw(table.size() * 8);
  for (std::size_t i = 0; i < table.size(); ++i) {
    EncodeLe32(&raw[i * 8], table[i].dwIndex);
    EncodeLe32(&raw[i * 8 + 4], table[i].dwHash);
  }
  return raw;
}

void CFileServer::WriteHashTable() {
  SettleHash();
  std::vector<BYTE> raw = TableImage(m_aHash, m_dwSize);
  DWORD length = FileLength();
  const bool inPlace = m_dwHashOffset == m_dwDiskTable && raw.size() <= m_dwDiskTableBytes && !m_bDiskTableHit;
  if (!inPlace && m_dwHashOffset < m_dwLiveEnd) m_dwHashOffset = length > m_dwLiveEnd ? length : m_dwLiveEnd;
  if (!raw.empty()) WriteRaw(m_dwHashOffset, raw.data(), static_cast<UINT>(raw.size()));
  // When nothing live lies behind the table, cut what an older, longer table left.
  DWORD end = m_dwHashOffset + static_cast<DWORD>(raw.size());
  if (end < length && end >= m_dwLiveEnd) SetFileLength(end);
  m_dwDiskTable = m_dwHashOffset;
  m_dwDiskTableBytes = static_cast<DWORD>(raw.size());
  m_bDiskTableHit = false;
}

// --- background task ----------------------------------------------------------

void CFileServer::StartPerformanceThread() {
  StopPerformanceThread();
  m_performanceThread = StartIdleThread([this] {
    // The task has nothing to do; it holds the maintenance mutex while it runs,
    // which restructuring operations wait for.
    if (m_bStop) return;
    CSingleLock maint(m_mutexMaint, std::try_to_lock);
  });
}

void CFileServer::StopPerformanceThread() {
  if (m_performanceThread.joinable()) m_performanceThread.join();
}

void CFileServer::EndOfPerformanceThread() {
  m_bStop = TRUE;
  CSingleLock maint(m_mutexMaint);
}

// --- slot walk ------------------------------------------------------------------

SlotChain CFileServer::WalkChain(DWORD limit) {
  auto window = std::make_unique<WordWindow>(*this);
  auto word = [&window](DWORD at, DWORD& value) { return window->Read(at, value); };
  return WalkSlotChain(word, FileLength(), limit);
}

// Finds the slot words by walking the chain from offset 40, once; later
// lookups and every write keep the list current. A damaged chain (a link
// outside the file, a loop) ends the walk: the slots it did not reach hold no
// item. Callers hold the file mutex.
void CFileServer::EnsureSlotWords() {
  if (m_bSlotWordsValid) return;
  m_slotWords.clear();
  if (m_dwLayout == 1) {
    DWORD length = FileLength();
    for (DWORD i = 0; i < m_dwSize && kHeaderSize + 4ull * i + 4 <= length; ++i)
      m_slotWords.push_back(kHeaderSize + 4 * i);
  } else {
    SlotChain chain = WalkChain(m_dwSize);
    m_slotWords = std::move(chain.slots);
    // The walk read every slot's value: a container open for reading only
    // keeps them (FindOffset), no second read per slot.
    if (m_bLengthFixed) {
      m_slotValues.assign(m_dwSize, 0);  // slots the walk did not reach hold no item
      for (std::size_t i = 0; i < chain.values.size() && i < m_dwSize; ++i)
        m_slotValues[i] = RecordOffsetOf(chain.values[i]);
    }
  }
  m_bSlotWordsValid = true;
}

DWORD CFileServer::FindIndexOffset(DWORD index) {
  CSingleLock lock(m_mutexFile);
  if (!m_pFile || index >= m_dwSize) return 0;
  if (!m_bSlotWordsValid && m_dwLayout == 1) {
    ULONGLONG at = kHeaderSize + 4ull * index;
    return at + 4 <= FileLength() ? static_cast<DWORD>(at) : 0;
  }
  EnsureSlotWords();
  return index < m_slotWords.size() ? m_slotWords[index] : 0;
}

DWORD CFileServer::FindOffset(DWORD index) {
  CSingleLock lock(m_mutexFile);
  if (m_bLengthFixed && index < m_slotValues.size() && m_slotValues[index] != kNoItem) return m_slotValues[index];
  DWORD at = FindIndexOffset(index);
  if (at == 0) return 0;
  const DWORD value = RecordOffsetOf(ReadWord(at));
  if (m_bLengthFixed && index < m_dwSize) {
    if (m_slotValues.size() != m_dwSize) m_slotValues.assign(m_dwSize, kNoItem);
    m_slotValues[index] = value;
  }
  return value;
}

std::vector<DWORD> CFileServer::RecordOffsets() {
  CSingleLock lock(m_mutexFile);
  std::vector<DWORD> offsets(m_pFile ? m_dwSize : 0, 0);
  if (offsets.empty()) return offsets;
  EnsureSlotWords();
  if (m_bLengthFixed && m_slotValues.size() == offsets.size() &&
      std::find(m_slotValues.begin(), m_slotValues.end(), kNoItem) == m_slotValues.end())
    return m_slotValues;
  auto window = std::make_unique<WordWindow>(*this);
  // Slots the walk did not reach (a damaged chain) hold no item, as FindOffset says.
  const std::size_t reached = std::min<std::size_t>(m_slotWords.size(), offsets.size());
  for (std::size_t i = 0; i < reached; ++i) {
    DWORD value = 0;
    if (!window->Read(m_slotWords[i], value)) throw CFileException(CFileException::endOfFile, 0, GetFilePath());
    offsets[i] = RecordOffsetOf(value);
  }
  if (m_bLengthFixed) m_slotValues = offsets;
  return offsets;
}

// --- utilities --------------------------------------------------------------------

DWORD CFileServer::MakeHash(const char* name) {
  DWORD h = 0;
  const auto* p = reinterpret_cast<const signed char*>(name);
  for (;; ++p) {
    h = ((h << 5) | (h >> 27)) - static_cast<DWORD>(static_cast<int>(*p)) - 48;
    if (*p == 0) break;
  }
  return h;
}

const char* CFileServer::LastComponent(const char* name) {
  const char* slash = std::strrchr(name, '\\');
  return slash ? slash + 1 : name;
}

void CFileServer::FreeFileItem(_FILEITEM* item) { std::free(item); }

void* CFileServer::bsearch(const void* key, const void* base, std::size_t count, std::size_t width,
                           int (*compare)(const void*, const void*)) {
  return count == 0 ? nullptr : std::bsearch(key, base, count, width, compare);
}

void CFileServer::qsort(void* base, std::size_t count, std::size_t width, int (*compare)(const void*, const void*)) {
  if (count > 1) std::qsort(base, count, width, compare);
}

int CFileServer::CompareHash(const void* a, const void* b) {
  DWORD x = static_cast<const HashEntry*>(a)->dwHash, y = static_cast<const HashEntry*>(b)->dwHash;
  return x < y ? -1 : x > y ? 1 : 0;
}

void CFileServer::SortHashTable() {
  qsort(m_aHash.data(), m_aHash.size(), sizeof(HashEntry), CompareHash);
  m_hashUnsorted = 0;
}

// The appended entries keep their order among equal hashes and follow the
// sorted ones of the same hash: the table is the one that inserting each at
// its sorted place, after its equals, would have made.
void CFileServer::SettleHash() {
  const std::size_t n = std::min(m_hashUnsorted, m_aHash.size());
  m_hashUnsorted = 0;
  if (n == 0) return;
  const auto byHash = [](const HashEntry& x, const HashEntry& y) { return x.dwHash < y.dwHash; };
  const auto mid = m_aHash.end() - static_cast<std::ptrdiff_t>(n);
  std::stable_sort(mid, m_aHash.end(), byHash);
  std::inplace_merge(m_aHash.begin(), mid, m_aHash.end(), byHash);
}

// --- hooks of the base class: no system files, nothing to follow ------------------

BOOL CFileServer::IsSystemFile(DWORD) { return FALSE; }
DWORD CFileServer::GetSystemFilesCount() { return 0; }
void CFileServer::WriteSystemFiles() {}
void CFileServer::OnDelete(DWORD) {}
void CFileServer::OnInsert(DWORD) {}
void CFileServer::OnRemove(DWORD) {}
