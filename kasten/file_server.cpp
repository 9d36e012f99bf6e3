// CFileServer: opening, closing, the slot walk, the name hash and the
// background task. Reading items is in file_server_read.cpp, writing in
// file_server_write.cpp, compaction and union in file_server_compact.cpp.
#include "kasten/file_server.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/message_box.h"

namespace {

// The reserved header word: one copy per process, loaded from every container
// opened and written into every header (see the format comment).
std::atomic<DWORD> g_dwReserved{0};

// Open failures that waiting may cure besides a lock held by another process
// (too many open files, a transient I/O error) are retried this often.
constexpr int kOpenAttempts = 3;

DWORD Le32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

}  // namespace

DWORD CFileServer::ReservedWord() { return g_dwReserved.load(); }

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
  ULONGLONG n = m_pFile->GetLength();
  return n > 0xFFFFFFFFull ? 0xFFFFFFFF : static_cast<DWORD>(n);
}

bool CFileServer::ReadAt(DWORD offset, void* buffer, UINT count) {
  m_pFile->Seek(offset, CFile::begin);
  return m_pFile->Read(buffer, count) == count;
}

DWORD CFileServer::ReadWord(DWORD offset) {
  BYTE b[4];
  if (!ReadAt(offset, b, 4)) throw CFileException(CFileException::endOfFile, 0, GetFilePath());
  return Le32(b);
}

void CFileServer::WriteAt(DWORD offset, const void* buffer, UINT count) {
  m_pFile->Seek(offset, CFile::begin);
  m_pFile->Write(buffer, count);
  if (offset + count > m_dwLiveEnd) m_dwLiveEnd = offset + count;
  if (OverlapsDiskTable(offset, count)) m_bDiskTableHit = true;
}

void CFileServer::WriteWord(DWORD offset, DWORD value) {
  BYTE b[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
  WriteAt(offset, b, 4);
}

void CFileServer::WriteHeaderWith(DWORD hashOffset) {
  BYTE h[32];
  auto put = [&h](int at, DWORD v) {
    h[at] = BYTE(v);
    h[at + 1] = BYTE(v >> 8);
    h[at + 2] = BYTE(v >> 16);
    h[at + 3] = BYTE(v >> 24);
  };
  put(0, m_dwSize);
  put(4, m_dwLayout);
  put(8, m_Guid.Data1);
  h[12] = BYTE(m_Guid.Data2);
  h[13] = BYTE(m_Guid.Data2 >> 8);
  h[14] = BYTE(m_Guid.Data3);
  h[15] = BYTE(m_Guid.Data3 >> 8);
  std::memcpy(h + 16, m_Guid.Data4, 8);
  put(24, g_dwReserved.load());
  put(28, hashOffset);
  m_pFile->Seek(0, CFile::begin);
  m_pFile->Write(h, sizeof h);
}

void CFileServer::WriteHeader() { WriteHeaderWith(m_dwHashOffset); }

// --- Init / Close -----------------------------------------------------------

void CFileServer::ReadHeaderAndTable(CFile& file) {
  BYTE h[32];
  file.SeekToBegin();
  ULONGLONG length = file.GetLength();
  if (length < kHeaderSize || length > 0xFFFFFFFFull || file.Read(h, sizeof h) != sizeof h)
    throw CFileException(CFileException::invalidFile, 0, file.GetFilePath());
  DWORD count = Le32(h);
  DWORD layout = Le32(h + 4);
  GUID guid;
  guid.Data1 = Le32(h + 8);
  guid.Data2 = static_cast<WORD>(h[12] | h[13] << 8);
  guid.Data3 = static_cast<WORD>(h[14] | h[15] << 8);
  std::memcpy(guid.Data4, h + 16, 8);
  DWORD reserved = Le32(h + 24);
  DWORD hashOffset = Le32(h + 28);
  // Every slot needs a word of its own after the header; a count beyond that,
  // or a table outside the file, is a damaged header.
  if (count > (length - kHeaderSize) / 4 || (hashOffset != 0 && (hashOffset < kHeaderSize || hashOffset > length)))
    throw CFileException(CFileException::invalidFile, 0, file.GetFilePath());

  std::vector<HashEntry> table;
  if (hashOffset != 0 && count > 0) {
    // A table written by a writer that did not pad it to the slot count may
    // hold fewer entries; read what the file holds.
    ULONGLONG fits = (length - hashOffset) / 8;
    DWORD entries = static_cast<DWORD>(fits < count ? fits : count);
    std::vector<BYTE> raw(static_cast<std::size_t>(entries) * 8);
    file.Seek(hashOffset, CFile::begin);
    if (file.Read(raw.data(), static_cast<UINT>(raw.size())) != raw.size())
      throw CFileException(CFileException::endOfFile, 0, file.GetFilePath());
    table.reserve(entries);
    for (DWORD i = 0; i < entries; ++i) {
      HashEntry e{Le32(&raw[i * 8]), Le32(&raw[i * 8 + 4])};
      // Entries that name no slot (padding, damage) could only ever answer "no item".
      if (e.dwIndex < count) table.push_back(e);
    }
  }
  g_dwReserved = reserved;
  m_dwSize = count;
  m_dwLayout = layout;
  m_Guid = guid;
  m_dwHashOffset = hashOffset;
  m_dwDiskTable = hashOffset;
  m_dwDiskTableBytes = hashOffset != 0 && count > 0 ? static_cast<DWORD>(std::min<ULONGLONG>(count, (length - hashOffset) / 8) * 8) : 0;
  m_aHash = std::move(table);
}

bool CFileServer::OverlapsDiskTable(ULONGLONG offset, ULONGLONG count) const {
  return m_dwDiskTableBytes != 0 && offset < static_cast<ULONGLONG>(m_dwDiskTable) + m_dwDiskTableBytes &&
         offset + count > m_dwDiskTable;
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
    if (IsWritable()) ComputeLiveEnd();
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
    WriteHeader();
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
  m_nOpenFlags = 0;
  m_aHash.clear();
  m_slotWords.clear();
  m_bSlotWordsValid = false;
  m_dwLiveEnd = 0;
  m_dwDiskTable = 0;
  m_dwDiskTableBytes = 0;
  m_bDiskTableHit = false;
}

void CFileServer::Close() {
  if (!m_pFile) return;
  m_bStop = TRUE;
  CSingleLock maint(m_mutexMaint);
  CSingleLock lock(m_mutexFile);
  std::unique_ptr<CFile> file(m_pFile);
  try {
    if (IsWritable()) {
      if (m_dwHashOffset != 0) WriteHashTable();
      WriteHeader();
    }
    m_pFile = nullptr;
    file->Close();
  } catch (...) {
    m_pFile = nullptr;
    file->Abort();
    ResetState();
    StopPerformanceThread();
    throw;
  }
  ResetState();
  StopPerformanceThread();
}

// Writes the in-memory table over its old place when it has not grown and
// nothing live lies there; else at the pending position, or at the end of
// the file when something was written behind that position since. The table on
// disk always has exactly slot-count entries: slots without an entry get
// padding entries that name no slot (0xFFFFFFFF), so a reader that reads
// slot-count entries never reads anything else.
std::vector<BYTE> CFileServer::TableImage(const std::vector<HashEntry>& entries, DWORD slotCount) {
  std::vector<HashEntry> table;
  table.reserve(slotCount);
  for (const auto& e : entries)
    if (e.dwIndex < slotCount && table.size() < slotCount) table.push_back(e);
  while (table.size() < slotCount) table.push_back({kNoItem, 0xFFFFFFFF});
  qsort(table.data(), table.size(), sizeof(HashEntry), CompareHash);
  std::vector<BYTE> raw(table.size() * 8);
  for (std::size_t i = 0; i < table.size(); ++i) {
    DWORD v[2] = {table[i].dwIndex, table[i].dwHash};
    for (int k = 0; k < 2; ++k)
      for (int j = 0; j < 4; ++j) raw[i * 8 + k * 4 + j] = BYTE(v[k] >> (8 * j));
  }
  return raw;
}

void CFileServer::WriteHashTable() {
  std::vector<BYTE> raw = TableImage(m_aHash, m_dwSize);
  DWORD length = FileLength();
  const bool inPlace = m_dwHashOffset == m_dwDiskTable && raw.size() <= m_dwDiskTableBytes && !m_bDiskTableHit;
  if (!inPlace && m_dwHashOffset < m_dwLiveEnd) m_dwHashOffset = length > m_dwLiveEnd ? length : m_dwLiveEnd;
  m_pFile->Seek(m_dwHashOffset, CFile::begin);
  if (!raw.empty()) m_pFile->Write(raw.data(), static_cast<UINT>(raw.size()));
  // When nothing live lies behind the table, cut what an older, longer table left.
  DWORD end = m_dwHashOffset + static_cast<DWORD>(raw.size());
  if (end < length && end >= m_dwLiveEnd) m_pFile->SetLength(end);
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

// Finds the slot words by walking the chain from offset 40, once; later
// lookups and every write keep the list current. A damaged chain (a link
// outside the file, a loop) ends the walk: the slots it did not reach hold no
// item. Callers hold the file mutex.
void CFileServer::EnsureSlotWords() {
  if (m_bSlotWordsValid) return;
  m_slotWords.clear();
  DWORD length = FileLength();
  if (m_dwLayout == 1) {
    for (DWORD i = 0; i < m_dwSize && kHeaderSize + 4ull * i + 4 <= length; ++i)
      m_slotWords.push_back(kHeaderSize + 4 * i);
    m_bSlotWordsValid = true;
    return;
  }
  // The file's read-ahead window serves the words of a block; a jump to the
  // next block reads only a little.
  auto word = [&](DWORD at, DWORD& value) {
    BYTE b[4];
    if (!ReadAt(at, b, 4)) return false;
    value = Le32(b);
    return true;
  };
  ULONGLONG budget = length / 4 + 2;  // every word of a sound chain is visited once
  DWORD pos = kHeaderSize;
  m_slotWords.reserve(m_dwSize);
  while (m_slotWords.size() < m_dwSize && budget-- > 0) {
    DWORD value;
    if (pos > length - 4 || !word(pos, value)) break;
    if (value != 0) {
      m_slotWords.push_back(pos);
      pos += 4;
      continue;
    }
    DWORD link;
    if (pos > length - 8 || !word(pos + 4, link) || link == 0) break;
    if (link < kHeaderSize || link > length - 4) break;
    pos = link;
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
  DWORD at = FindIndexOffset(index);
  if (at == 0) return 0;
  DWORD value = ReadWord(at);
  return value == kNoItem ? 0 : value;
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

void CFileServer::SortHashTable() { qsort(m_aHash.data(), m_aHash.size(), sizeof(HashEntry), CompareHash); }

// --- hooks of the base class: no system files, nothing to follow ------------------

BOOL CFileServer::IsSystemFile(DWORD) { return FALSE; }
DWORD CFileServer::GetSystemFilesCount() { return 0; }
void CFileServer::WriteSystemFiles() {}
void CFileServer::OnDelete(DWORD) {}
void CFileServer::OnInsert(DWORD) {}
void CFileServer::OnRemove(DWORD) {}
