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
#include "platform/file_at.h"
#include "platform/paths.h"

namespace {

constexpr std::size_t kCopyBuffer = 100000;

// A temporary file beside the others of the process, "vamu" prefixed.
std::string NewTempFile() {
  for (int attempt = 0;; ++attempt) {
    if (auto name = CreateTempFile(TempDirectory(), "vamu")) return *name;
    if (attempt >= 10) throw CFileException(CFileException::accessDenied, errno, TempDirectory());
  }
}

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

// Deletes a file at the end of its scope.
struct TempFile {
  std::string path;
  ~TempFile() { DeleteFileAt(path); }
};

}  // namespace

// The one copy loop of Compact and Union: the records of `slots` of `from`
// go to `to`, back to back from `pos`, byte for byte (never re-encoded).
// offsets[k] is where the record of slots[k] went; names[k] (when given) its
// item name. A record that cannot be read whole is never dropped: it throws,
// naming the container and the slot, and nothing of the target is kept.
DWORD CFileServer::CopyRecords(CFileServer& from, const std::vector<DWORD>& slots, CFile& to, DWORD pos,
                               std::vector<DWORD>& offsets, std::vector<std::string>* names) {
  std::unique_ptr<BYTE, decltype(&std::free)> buffer(static_cast<BYTE*>(std::malloc(kCopyBuffer)), std::free);
  if (!buffer) throw CMemoryException();
  CSingleLock lock(from.m_mutexFile);
  for (DWORD slot : slots) {
    Record rec;
    if (!from.ReadRecord(slot, rec) || !rec.sound)
      throw CXException(CXException::damaged, from.GetFilePath(), SlotLabel(slot, rec.item.get()),
                        "the record cannot be read whole (verify tells why); nothing was copied");
    const DWORD size = rec.dataOffset - rec.offset + rec.storedLength;
    if (static_cast<ULONGLONG>(pos) + size > 0xFFFFFFF0ull)
      throw CFileException(CFileException::diskFull, EFBIG, to.GetFilePath());
    CopyBytes(*from.m_pFile, rec.offset, to, pos, size, buffer.get(), kCopyBuffer);
    offsets.push_back(pos);
    if (names) names->push_back(rec.item->szName);
    pos += size;
  }
  return pos;
}

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
  TempFile temp{NewTempFile()};
  WriteCompacted(temp.path);
  // The old file is closed as it stands (a derived class writes its own data
  // first), then kept as the backup; the container is replaced only by a
  // complete copy of the new file, by renaming it into place.
  Close();
  m_dwLayout = 1;
  const int error = SwapInCompacted(path, temp.path);
  maint.unlock();
  BOOL reopened = Init(path.c_str(), nullptr, mode);
  if (error) throw CFileException(CFileException::OsErrorToCause(error), error, path);
  return reopened ? TRUE : FALSE;
}

// Writes the live items into a new contiguous container at `target`: header,
// slot words, the records back to back, the table behind them. The empty
// slots are dropped, each reported to OnDelete at the index the items stand
// at once the drops before it are done, so that successive drops compose.
void CFileServer::WriteCompacted(const std::string& target) {
  CSingleLock lock(m_mutexFile);
  std::vector<DWORD> live;
  for (DWORD i = 0; i < m_dwSize; ++i) {
    if (FindOffset(i) != 0) live.push_back(i);
    else OnDelete(static_cast<DWORD>(live.size()));
  }
  const DWORD count = static_cast<DWORD>(live.size());
  CFile out(target.c_str(), CFile::modeCreate | CFile::modeReadWrite);
  const ULONGLONG oldLength = m_pFile->GetLength(), slotsBytes = 40ull * m_dwSize;
  out.SetLength(oldLength > slotsBytes ? oldLength - slotsBytes : 0);

  const DWORD slotsEnd = kHeaderSize + 4 * count + 8;
  std::vector<DWORD> offsets;
  std::vector<std::string> names;
  const DWORD end = CopyRecords(*this, live, out, slotsEnd, offsets, &names);
  std::vector<HashEntry> table;
  for (DWORD k = 0; k < count; ++k) table.push_back({k, MakeHash(LastComponent(names[k].c_str()))});
  std::vector<BYTE> raw = TableImage(table, count);
  out.Seek(end, CFile::begin);
  if (!raw.empty()) out.Write(raw.data(), static_cast<UINT>(raw.size()));
  out.SetLength(end + raw.size());

  ContainerHeader image;
  image.slotCount = count;
  image.layout = 1;
  image.guid = m_Guid;
  image.reserved = m_dwReserved;
  image.hashOffset = end;
  std::vector<BYTE> head(slotsEnd, 0);  // the marker and link behind the slots stay 0
  image.Encode(head.data());
  for (DWORD k = 0; k < count; ++k) EncodeLe32(&head[kHeaderSize + 4 * k], offsets[k]);
  out.Seek(0, CFile::begin);
  out.Write(head.data(), static_cast<UINT>(head.size()));
  out.Flush();
  out.Close();
}

// Keeps the container at `path` as its backup and puts a copy of `compacted`
// in its place by renaming, so that the container is always whole. Returns 0,
// or the error number of the step that failed (the container is untouched).
//
// Both copies are new files, which the system makes as the process's mask
// says: each is given the container's group and permissions first, so that a
// container the operator kept from others stays so, and its backup too.
int CFileServer::SwapInCompacted(const std::string& path, const std::string& compacted) {
  const std::string staged = path + ".vamunew", backup = BackupName(path);
  bool replaced = CopyFileReplace(path, backup) && TakeAccessOf(path, backup) && CopyFileReplace(compacted, staged) &&
                  TakeAccessOf(path, staged) && std::rename(staged.c_str(), path.c_str()) == 0;
  const int error = replaced ? 0 : errno ? errno : EIO;
  if (!replaced) DeleteFileAt(staged);
  return error;
}

BOOL CFileServer::Union(CFileServer* first, CFileServer* second) {
  if (!first || !second || first == this || second == this || !first->IsOpen() || !second->IsOpen()) return FALSE;
  if (first->m_dwLayout != 1 || second->m_dwLayout != 1) return FALSE;
  if (!IsWritable()) return FALSE;
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
  m_hashUnsorted = 0;
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
  m_dwLiveEnd = slotsEnd;
  SetFileLength(slotsEnd);
  std::vector<DWORD> offsets;
  m_bLengthKnown = false;  // the copy writes the file directly
  DWORD pos = CopyRecords(*first, fromFirst, *m_pFile, slotsEnd, offsets, nullptr);
  pos = CopyRecords(*second, fromSecond, *m_pFile, pos, offsets, nullptr);
  m_bLengthKnown = false;
  std::vector<BYTE> slots(slotsEnd - kHeaderSize, 0);
  for (DWORD k = 0; k < n; ++k) EncodeLe32(&slots[4 * k], offsets[k]);
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
