// CFileServer: compaction (rewrite without dead space, contiguous, with a
// backup of the old file) and union (fill a container with the items of two
// compacted ones). Both copy stored bytes as they are, never re-encoding.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>

#include "kasten/container_header.h"
#include "kasten/file_server.h"
#include "platform/coding.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace {

constexpr std::size_t kCopyBuffer = 100000;

// Copies count bytes from src at `from` to dst at `to` through buffer.
void CopyBytes(CFile& src, DWORD from, CFile& dst, DWORD to, DWORD count, BYTE* buffer, std::size_t size) {
  src.Seek(from, CFile::begin);
  dst.Seek(to, CFile::begin);
  while (count > 0) {
    UINT want = static_cast<UINT>(count < size ? count : size);
    if (src.Read(buffer, want) != want) throw CFileException(CFileException::endOfFile, 0, src.GetFilePath());
    dst.Write(buffer, want);
    count -= want;
  }
}

}  // namespace

std::string CFileServer::BackupName(const std::string& path) {
  // Only a '.' in the file name itself counts: "v1.2/base" gets ".bak" appended.
  auto dot = path.find_last_of('.');
  auto slash = path.find_last_of('/');
  bool hasExtension = dot != std::string::npos && dot > 1 && (slash == std::string::npos || dot > slash + 1);
  return hasExtension ? path.substr(0, dot + 1) + "bak" : path + ".bak";
}

BOOL CFileServer::Compact() {
  if (!IsWritable()) return FALSE;
  m_bStop = TRUE;
  CSingleLock maint(m_mutexMaint);
  const std::string path = GetFilePath();
  const UINT mode = m_nOpenFlags;

  std::string tempPath;
  for (int attempt = 0; tempPath.empty(); ++attempt) {
    if (auto name = CreateTempFile(TempDirectory(), "vamu")) tempPath = *name;
    else if (attempt >= 10) throw CFileException(CFileException::accessDenied, errno, TempDirectory());
  }
  struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile() {
      if (!keep) DeleteFileAt(path);
    }
  } temp{tempPath};

  {
    CSingleLock lock(m_mutexFile);
    DWORD live = 0;
    for (DWORD i = 0; i < m_dwSize; ++i)
      if (FindOffset(i) != 0) ++live;

    std::unique_ptr<BYTE, decltype(&std::free)> buffer(static_cast<BYTE*>(std::malloc(kCopyBuffer)), std::free);
    if (!buffer) {
      MessageBox("No buff", "FileServer");
      return FALSE;
    }
    CFile out(tempPath.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    ULONGLONG oldLength = m_pFile->GetLength();
    ULONGLONG slotsBytes = 40ull * m_dwSize;
    out.SetLength(oldLength > slotsBytes ? oldLength - slotsBytes : 0);

    const DWORD slotsEnd = kHeaderSize + 4 * live + 8;
    std::vector<BYTE> header(slotsEnd, 0);
    ContainerHeader image;
    image.slotCount = live;
    image.layout = 1;
    image.guid = m_Guid;
    image.reserved = m_dwReserved;

    std::vector<HashEntry> table;
    table.reserve(live);
    DWORD pos = slotsEnd;
    DWORD copied = 0;
    for (DWORD i = 0; i < m_dwSize; ++i) {
      if (FindOffset(i) == 0) {
        // The item that follows moves down to this place; the hook gets the
        // index as the items stand now, so successive drops compose.
        OnDelete(copied);
        continue;
      }
      Record rec;
      if (!ReadRecord(i, rec) || !rec.sound) {
        if (rec.item) FreeFileItem(rec.item);
        throw CFileException(CFileException::invalidFile, 0, path);  // never drop an item silently
      }
      DWORD size = rec.dataOffset - rec.offset + rec.storedLength;
      if (static_cast<ULONGLONG>(pos) + size > 0xFFFFFFF0ull) {
        FreeFileItem(rec.item);
        throw CFileException(CFileException::diskFull, EFBIG, tempPath);
      }
      CopyBytes(*m_pFile, rec.offset, out, pos, size, buffer.get(), kCopyBuffer);
      EncodeLe32(&header[kHeaderSize + 4 * copied], pos);
      table.push_back({copied, MakeHash(LastComponent(rec.item->szName))});
      FreeFileItem(rec.item);
      pos += size;
      ++copied;
    }
    std::vector<BYTE> raw = TableImage(table, live);
    out.Seek(pos, CFile::begin);
    if (!raw.empty()) out.Write(raw.data(), static_cast<UINT>(raw.size()));
    out.SetLength(pos + raw.size());
    image.hashOffset = pos;
    image.Encode(header.data());
    out.Seek(0, CFile::begin);
    out.Write(header.data(), static_cast<UINT>(header.size()));
    out.Flush();
    out.Close();
  }

  // The old file is closed as it stands (a derived class writes its own data
  // first), then kept as the backup; the container is replaced only by a
  // complete copy of the new file, by renaming it into place.
  Close();
  m_dwLayout = 1;
  const std::string staged = path + ".vamunew";
  bool replaced = CopyFileReplace(path, BackupName(path)) && CopyFileReplace(tempPath, staged) &&
                  std::rename(staged.c_str(), path.c_str()) == 0;
  int error = errno;
  if (!replaced) DeleteFileAt(staged);
  maint.unlock();
  BOOL reopened = Init(path.c_str(), nullptr, mode);
  if (!replaced) throw CFileException(CFileException::OsErrorToCause(error), error, path);
  return reopened ? TRUE : FALSE;
}

BOOL CFileServer::Union(CFileServer* first, CFileServer* second) {
  if (!first || !second || first == this || second == this || !first->IsOpen() || !second->IsOpen()) return FALSE;
  if (first->m_dwLayout != 1 || second->m_dwLayout != 1) return FALSE;
  if (!IsWritable()) return FALSE;
  std::unique_ptr<BYTE, decltype(&std::free)> buffer(static_cast<BYTE*>(std::malloc(kCopyBuffer)), std::free);
  if (!buffer) {
    MessageBox("no memory", "FileServer");
    return FALSE;
  }
  CSingleLock lock(m_mutexFile);

  // Which items go over: the documents of each source, not its system files.
  auto copies = [](CFileServer* src) {
    std::vector<DWORD> slots;
    for (DWORD i = 0; i < src->GetSize(); ++i)
      if (src->FindOffset(i) != 0 && !src->IsSystemFile(i)) slots.push_back(i);
    return slots;
  };
  const std::vector<DWORD> fromFirst = copies(first), fromSecond = copies(second);
  const DWORD n = static_cast<DWORD>(fromFirst.size() + fromSecond.size());
  const DWORD s = GetSystemFilesCount();

  m_aHash.clear();
  m_dwHashOffset = 0;
  m_dwSize = 0;
  m_dwLayout = 1;
  m_dwDiskTable = m_dwDiskTableBytes = 0;
  m_bDiskTableHit = false;
  WriteHeader();
  SetFileLength(kHeaderSize);
  // Slot words for every item, then s words of 0 kept for the system files:
  // with the marker and link behind them they form a run of zeros, into which
  // the system files' slots grow in place, keeping the table contiguous.
  m_dwSize = s + n;
  WriteHeader();
  const DWORD slotsEnd = kHeaderSize + 4 * (s + n + 2);
  std::vector<BYTE> slots(slotsEnd - kHeaderSize, 0);
  DWORD pos = slotsEnd;
  DWORD dest = 0;
  m_dwLiveEnd = slotsEnd;
  SetFileLength(slotsEnd);
  for (CFileServer* src : {first, second}) {
    CSingleLock srcLock(src->m_mutexFile);
    for (DWORD i : src == first ? fromFirst : fromSecond) {
      Record rec;
      if (!src->ReadRecord(i, rec) || !rec.sound) {
        if (rec.item) FreeFileItem(rec.item);
        throw CFileException(CFileException::invalidFile, 0, src->GetFilePath());
      }
      DWORD size = rec.dataOffset - rec.offset + rec.storedLength;
      FreeFileItem(rec.item);
      CopyBytes(*src->m_pFile, rec.offset, *m_pFile, pos, size, buffer.get(), kCopyBuffer);
      EncodeLe32(&slots[4 * dest], pos);
      pos += size;
      ++dest;
    }
  }
  WriteRaw(kHeaderSize, slots.data(), static_cast<UINT>(slots.size()));
  m_dwLiveEnd = pos;

  m_dwLayout = 1;
  m_dwSize = n;
  m_slotWords.clear();
  for (DWORD i = 0; i < n; ++i) m_slotWords.push_back(kHeaderSize + 4 * i);
  m_bSlotWordsValid = true;
  WriteSystemFiles();

  // One hash entry per slot that holds an item, at the end of the file.
  RebuildHashTable();
  DWORD end = FileLength();
  m_dwHashOffset = end > m_dwLiveEnd ? end : m_dwLiveEnd;
  WriteHashTable();
  // Contiguous only when the system files really grew into the kept words.
  bool contiguous = true;
  for (DWORD i = 0; i < m_dwSize && contiguous; ++i)
    contiguous = i < m_slotWords.size() && m_slotWords[i] == kHeaderSize + 4 * i;
  m_dwLayout = contiguous ? 1 : 0;
  WriteHeader();
  return TRUE;
}
