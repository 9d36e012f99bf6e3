// CFileServer: reading items (descriptors and contents) and the name lookup.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kasten/codec.h"
#include "kasten/file_server.h"
#include "platform/coding.h"

namespace {

// No deflate stream inflates more than about 1032 times its size; a contents
// length beyond that bound is damage, not a document, and is never allocated.
constexpr ULONGLONG kMaxInflateRatio = 1032;

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

}  // namespace

namespace {

// A descriptor of `size` bytes at `record`: null when it does not fit in the
// file, is shorter than a length and an empty name, or its name (read by
// `readName` into the new descriptor) is not terminated.
template <class ReadName>
FileItemPtr Descriptor(DWORD record, WORD size, DWORD fileLength, ReadName readName) {
  if (size < 3 || static_cast<ULONGLONG>(record) + size > fileLength) return nullptr;
  FileItemPtr item(static_cast<_FILEITEM*>(std::malloc(size)));
  if (!item) throw CMemoryException();
  item->wSize = size;
  if (!readName(item->szName, size - 2u) || !std::memchr(item->szName, 0, size - 2u)) return nullptr;
  return item;
}

}  // namespace

FileItemPtr CFileServer::ReadItemAt(DWORD record, DWORD fileLength) {
  BYTE len[2];
  if (record < kHeaderSize || record > fileLength - 2 || !ReadAt(record, len, 2)) return nullptr;
  return Descriptor(record, DecodeLe16(len), fileLength,
                    [&](char* name, UINT n) { return ReadAt(record + 2, name, n); });
}

std::string CFileServer::SlotLabel(DWORD index, const _FILEITEM* item) {
  std::string label = "slot " + std::to_string(index);
  return item ? label + " (" + item->szName + ")" : label;
}

bool CFileServer::ReadRecord(DWORD index, Record& rec) {
  rec = Record{};
  DWORD at = FindOffset(index);
  if (at == 0) return false;
  DWORD length = FileLength();
  // The descriptor and the record's fields come in one read when they fit in
  // a small block, as almost every descriptor does; in three otherwise.
  BYTE head[512];
  const DWORD ahead = at >= kHeaderSize && at < length ? std::min<DWORD>(sizeof head, length - at) : 0;
  FileItemPtr item;
  BYTE fields[12];
  if (ahead >= 2 && ReadAt(at, head, ahead) && DecodeLe16(head) + 12u <= ahead) {
    item = Descriptor(at, DecodeLe16(head), length, [&](char* name, UINT n) {
      std::memcpy(name, head + 2, n);
      return true;
    });
    if (!item) return false;
    std::memcpy(fields, head + item->wSize, sizeof fields);
  } else {
    item = ReadItemAt(at, length);
    if (!item) return false;
    if (static_cast<ULONGLONG>(at) + item->wSize + 12 > length || !ReadAt(at + item->wSize, fields, 12)) return false;
  }
  ULONGLONG data = static_cast<ULONGLONG>(at) + item->wSize + 12;
  rec.item = std::move(item);
  rec.offset = at;
  rec.method = DecodeLe32(fields);
  rec.contentsLength = DecodeLe32(fields + 4);
  rec.storedLength = DecodeLe32(fields + 8);
  rec.dataOffset = static_cast<DWORD>(data);
  // A stored item's bytes are its contents: lengths that disagree are damage
  // (a read would hand out more bytes than declared, or pad with zeros). A
  // method no codec knows cannot be read either.
  rec.sound = data + rec.storedLength <= length && rec.method <= 2 &&
              (rec.method == 0 ? rec.contentsLength == rec.storedLength
                               : rec.contentsLength <= rec.storedLength * kMaxInflateRatio + 64);
  return true;
}

bool CFileServer::GetItemInfo(DWORD index, ItemInfo& info) {
  CSingleLock lock(m_mutexFile);
  Record rec;
  if (!ReadRecord(index, rec)) return false;
  info.name = rec.item->szName;
  info.method = rec.method;
  info.contentsLength = rec.contentsLength;
  info.storedLength = rec.storedLength;
  info.recordOffset = rec.offset;
  info.sound = rec.sound;
  return true;
}

_FILEITEM* CFileServer::GetItem(DWORD index) {
  CSingleLock lock(m_mutexFile);
  DWORD at = FindOffset(index);
  return at ? ReadItemAt(at, FileLength()).release() : nullptr;
}

_FILEITEM* CFileServer::GetItem(const char* name) { return GetItem(GetItemIndex(name)); }

_FILEITEM* CFileServer::GetFile(const char* name, CFile& dst, DWORD limit, BOOL percent) {
  return GetFile(GetItemIndex(name), dst, limit, percent);
}

_FILEITEM* CFileServer::GetFile(DWORD index, CFile& dst, DWORD limit, BOOL percent) {
  CSingleLock lock(m_mutexFile);
  Record rec;
  // A record whose lengths do not fit the file, or whose method no codec
  // knows, cannot be read: no item (verify says why).
  if (!ReadRecord(index, rec) || !rec.sound) return nullptr;
  std::unique_ptr<Codec> codec = CreateCodec(rec.method);
  DWORD inputLimit;
  try {
    if (limit == 0) {
      // The destination ends up exactly contents-length long: what it held
      // beyond is cut, and the codec raises rather than deliver fewer bytes.
      inputLimit = rec.storedLength;
      if (dst.GetLength() > rec.contentsLength) dst.SetLength(rec.contentsLength);
    } else if (percent) {
      // In 64 bits: a 32-bit product would wrap for items above 42 MB.
      inputLimit = static_cast<DWORD>(static_cast<ULONGLONG>(rec.storedLength) * (limit < 100 ? limit : 100) / 100);
    } else {
      inputLimit = limit < rec.storedLength ? limit : rec.storedLength;
    }
    dst.Seek(0, CFile::begin);
    m_pFile->Seek(rec.dataOffset, CFile::begin);
    codec->Decompress(m_pFile, &dst, inputLimit, rec.contentsLength, rec.storedLength);
  } catch (CXException& e) {
    e.SetPlace(GetFilePath(), SlotLabel(index, rec.item.get()));
    throw;
  }
  return rec.item.release();
}

DWORD CFileServer::GetFileSize(DWORD index) {
  ItemInfo info;
  return GetItemInfo(index, info) ? info.contentsLength : 0;
}

DWORD CFileServer::GetFileCompSize(DWORD index) {
  ItemInfo info;
  return GetItemInfo(index, info) ? info.storedLength : 0;
}

DWORD CFileServer::GetItemIndex(const char* name) {
  if (!name) return kNoItem;
  const DWORD h = MakeHash(LastComponent(name));
  if (m_hashUnsorted != 0) {
    CSingleLock lock(m_mutexFile);
    SettleHash();
  }
  HashEntry key{0, h};
  const std::size_t n = m_aHash.size();
  auto* found = static_cast<const HashEntry*>(bsearch(&key, m_aHash.data(), n, sizeof(HashEntry), CompareHash));
  if (!found) return kNoItem;
  std::size_t at = static_cast<std::size_t>(found - m_aHash.data());
  bool before = at > 0 && m_aHash[at - 1].dwHash == h;
  bool after = at + 1 < n && m_aHash[at + 1].dwHash == h;
  if (!before && !after) return found->dwIndex;

  // Several names share the hash: compare names, the whole path when the
  // caller gave one, else the last component.
  while (at > 0 && m_aHash[at - 1].dwHash == h) --at;
  const bool wholePath = std::strchr(name, '\\') != nullptr;
  for (; at < n && m_aHash[at].dwHash == h; ++at) {
    DWORD slot = m_aHash[at].dwIndex;
    FileItemPtr item;
    {
      CSingleLock lock(m_mutexFile);
      if (!m_pFile) return kNoItem;
      item.reset(GetItem(slot));
    }
    if (!item) continue;
    if (EqualsIgnoringAsciiCase(wholePath ? item->szName : LastComponent(item->szName), name)) return slot;
  }
  return kNoItem;
}
