// Files: `CFile`, a disk file, and `CMemFile`, a growable memory file, behind
// one seekable interface. Every reader and writer of the storage libraries
// takes a `CFile&`, so a document can be read into memory or onto disk alike.
//
// Failures throw CFileException (CMemoryException when memory runs out).
// One object is not safe for concurrent use; callers lock around it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/exceptions.h"
#include "platform/windows_types.h"

class CFile {
 public:
  // Open flags, with the values of the file layer the stored formats were designed on.
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

  CFile();
  // Opens at once; throws CFileException on failure.
  CFile(const char* path, UINT flags);
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  virtual ~CFile();

  // Opens `path`. Sharing is an advisory lock on the whole file: a read-only
  // open takes a shared lock, a writable one an exclusive lock, both without
  // waiting (a held lock fails with sharingViolation); shareDenyNone takes none.
  // Returns FALSE and fills *error (when given) on failure.
  virtual BOOL Open(const char* path, UINT flags, CFileException* error = nullptr);

  // Reads up to count bytes; returns the number read, 0 at the end.
  virtual UINT Read(void* buffer, UINT count);
  // Writes all count bytes or throws.
  virtual void Write(const void* buffer, UINT count);
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void SetLength(ULONGLONG newLength);
  // Forces written data to the disk.
  virtual void Flush();
  // Starts writing the data written so far to the disk and returns without
  // waiting, so that the disk works while the caller goes on; the next Flush
  // waits only for what is left. Reports nothing (Flush does).
  virtual void StartFlush();
  virtual void Close();
  // Closes without throwing.
  virtual void Abort();

  bool IsOpen() const { return m_fd >= 0; }
  const std::string& GetFilePath() const { return m_path; }
  UINT GetOpenFlags() const { return m_flags; }

 protected:
  // Small reads are served from a read-ahead window of the file, so that a
  // reader taking a few hundred bytes at a time makes one system call per
  // window; any write or length change drops the window. The window starts
  // small after a jump and doubles while reading goes on where it ended, so
  // scattered small reads (a slot chain, descriptors) copy little.
  static constexpr UINT kReadAhead = 65536;
  static constexpr UINT kFirstWindow = 512;
  void DropReadAhead() { m_aheadLength = 0; }

  int m_fd = -1;
  ULONGLONG m_position = 0;
  std::unique_ptr<char[]> m_ahead;
  ULONGLONG m_aheadStart = 0;
  UINT m_aheadLength = 0;
  UINT m_aheadWindow = kFirstWindow;  // size of the next refill
  UINT m_flags = 0;
  std::string m_path;
};

// A file in one heap block. Writing past the end grows the block in steps of
// the grow size; the block is the caller's after Detach (release with free()).
class CMemFile : public CFile {
 public:
  explicit CMemFile(UINT growBytes = 1024);
  CMemFile(CMemFile&& other) noexcept;
  ~CMemFile() override;

  BOOL Open(const char*, UINT, CFileException* error = nullptr) override;
  UINT Read(void* buffer, UINT count) override;
  void Write(const void* buffer, UINT count) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetPosition() const override { return m_position; }
  ULONGLONG GetLength() const override { return m_length; }
  // Grows with zero bytes or cuts; the position is kept within the new length.
  void SetLength(ULONGLONG newLength) override;
  void Flush() override {}
  void StartFlush() override {}
  void Close() override;
  void Abort() override { Close(); }

  // The contents; valid until the next write or SetLength.
  BYTE* GetBuffer() { return m_buffer; }
  const BYTE* GetBuffer() const { return m_buffer; }
  // Hands the block (malloc'd) to the caller and leaves the file empty.
  BYTE* Detach();
  // Makes sure the block can hold `capacity` bytes without moving.
  void Reserve(std::size_t capacity);
  std::size_t Capacity() const { return m_capacity; }
  // Direct writing for producers that fill memory themselves (a decoder):
  // PrepareWrite returns room for n bytes at the position, CommitWrite(k)
  // then counts k <= n of them as written, as Write would.
  BYTE* PrepareWrite(std::size_t n);
  void CommitWrite(std::size_t k);

 private:
  void Grow(std::size_t needed);

  BYTE* m_buffer = nullptr;
  std::size_t m_capacity = 0;
  std::size_t m_length = 0;
  UINT m_growBytes;
};

// True when a file or directory exists at path.
bool FileExists(const std::string& path);
// Copies a file, replacing the destination; false on failure.
bool CopyFileReplace(const std::string& from, const std::string& to);
// Deletes a file; false on failure.
bool DeleteFileAt(const std::string& path);
