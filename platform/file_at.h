// Files beside the bases that are read at any offset by many threads at once
// (pread, no shared position), and their atomic replacement: a new version is
// written to a temporary file in the same directory, forced to the disk and
// renamed over the old one, so a reader sees the old file or the new one,
// never a half-written one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/windows_types.h"

class CFileAt {
 public:
  CFileAt() = default;
  CFileAt(const CFileAt&) = delete;
  CFileAt& operator=(const CFileAt&) = delete;
  ~CFileAt();

  // Opens for reading; false when the file cannot be opened (errno kept).
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  // The length when opened.
  ULONGLONG Length() const { return m_length; }
  // Reads up to count bytes at offset; the number read (fewer at the end of
  // the file or when it has shrunk since). Safe from any thread.
  std::size_t ReadAt(ULONGLONG offset, void* buffer, std::size_t count) const;

 private:
  int m_fd = -1;
  ULONGLONG m_length = 0;
};

// A new temporary file beside `path` ("<path>.newXXXXXX"), or nothing.
std::optional<std::string> CreateFileBeside(const std::string& path);
// Gives `path` the owning group and the read and write permissions of
// `model`: a file written to go with another (through a temporary file,
// which is made private to its owner) is then readable by whoever may read
// the other. The group is given where the system lets this process give it
// (its own groups; any for the superuser). False when `model` cannot be
// looked at or the permissions cannot be set.
bool TakeAccessOf(const std::string& model, const std::string& path);
// Forces `temporary` to the disk and renames it to `path` (and forces the
// directory entry); false, with `temporary` removed, on failure.
bool ReplaceWith(const std::string& temporary, const std::string& path);
