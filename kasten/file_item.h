// The item descriptor `_FILEITEM` (docs/formats.md, "Descriptor"), its owner
// FileItemPtr, and the store's exceptions.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "platform/exceptions.h"
#include "platform/windows_types.h"

// Descriptor of one item: the same bytes on disk and in memory.
//   offset 0  WORD  total length L of the descriptor, these two bytes included
//   offset 2        item name, NUL-terminated, windows-1250, components split by '\'
//   after the name  caller data up to L, opaque to the store
// A descriptor handed out by a store is one heap block of exactly L bytes,
// owned by the caller and released with FreeFileItem of the same library.
#pragma pack(push, 1)
struct _FILEITEM {
  WORD wSize;
  char szName[1];  // really L - 2 bytes: the name, then caller data
};
#pragma pack(pop)

// Length of the descriptors the system writes for its own system files:
// a 260-byte name field, three zero words and one spare byte.
constexpr WORD kSystemItemSize = 275;
constexpr std::size_t kSystemItemNameField = 260;

// Builds a descriptor of `size` bytes (at least the name and its NUL) for
// `name`, zero-filled behind the name. Caller frees with CFileServer::FreeFileItem.
// Returns null when the name does not fit or memory runs out.
_FILEITEM* MakeFileItem(const char* name, std::size_t size = 0);

// The name of a descriptor's item as stored (its last path component is what
// the hash table holds).
inline const char* ItemName(const _FILEITEM* item) { return item->szName; }

// Owns a descriptor handed out by a store (GetItem, GetFile) and releases it
// the way FreeFileItem does, at the end of its scope:
//   FileItemPtr item(fs.GetFile(index, dst, 0, FALSE));
//   if (!item) ...;   // no item
struct FileItemFree {
  void operator()(_FILEITEM* item) const;
};
using FileItemPtr = std::unique_ptr<_FILEITEM, FileItemFree>;

// The store's one way to report a failure that is not the file layer's or
// memory's: an error with a code (which selects a message and a caption by
// resource number) and, where known, the container file, the item ("slot 5
// (DU\D97034.HTM)") and what is wrong. The codec that finds damage knows
// neither file nor item; the store adds them on the way out (SetPlace).
class CXException : public CException {
 public:
  enum { damaged = 1 };  // a record or structure of the container that does not fit

  explicit CXException(DWORD code, std::string what = {}) : m_dwError(code), m_strWhat(std::move(what)) {}
  CXException(DWORD code, std::string file, std::string item, std::string what)
      : m_dwError(code), m_strFile(std::move(file)), m_strItem(std::move(item)), m_strWhat(std::move(what)) {}
  // "file: item: what", leaving out what is not known; the code's own text
  // stands in for a missing `what`.
  std::string GetErrorMessage() const override;
  // Resource numbers of the message and caption texts of the code.
  virtual UINT MessageId() const { return 24576; }
  virtual UINT CaptionId() const { return 24577; }
  // Names the file and item when the thrower could not.
  void SetPlace(const std::string& file, const std::string& item) {
    if (m_strFile.empty()) m_strFile = file;
    if (m_strItem.empty()) m_strItem = item;
  }

  DWORD m_dwError;
  std::string m_strFile, m_strItem, m_strWhat;

 protected:
  virtual std::string CodeText() const;
  std::string Place() const;  // "file: item: ", what is known of it
};

// zlib failures: 1 any other error, 2 stream error, 3 data error, 4 buffer error.
class CZLibException : public CXException {
 public:
  enum { otherError = 1, streamError = 2, dataError = 3, bufferError = 4 };
  explicit CZLibException(DWORD code, std::string what = {}) : CXException(code, std::move(what)) {}
  // "file: item: compressed data damaged: what".
  std::string GetErrorMessage() const override;
  UINT MessageId() const override;
  UINT CaptionId() const override { return 27659; }

 protected:
  std::string CodeText() const override;
};
