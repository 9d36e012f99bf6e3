// The item descriptor `_FILEITEM` and the container's exceptions.
#pragma once

#include <cstddef>
#include <cstring>

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

// An error of the store with a code; the code selects a message and a caption.
class CXException : public CException {
 public:
  explicit CXException(DWORD code) : m_dwError(code) {}
  std::string GetErrorMessage() const override;
  // Resource numbers of the message and caption texts of the code.
  virtual UINT MessageId() const { return 24576; }
  virtual UINT CaptionId() const { return 24577; }

  DWORD m_dwError;
};

// zlib failures: 1 any other error, 2 stream error, 3 data error, 4 buffer error.
class CZLibException : public CXException {
 public:
  enum { otherError = 1, streamError = 2, dataError = 3, bufferError = 4 };
  explicit CZLibException(DWORD code) : CXException(code) {}
  std::string GetErrorMessage() const override;
  UINT MessageId() const override;
  UINT CaptionId() const override { return 27659; }
};
