// What identifies a file's contents on disk without reading them: device,
// file number, size and modification time. A file replaced by renaming
// another over it, or written to, shows a different identity. The extension
// compares identities to notice that a base it serves has been replaced.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t number = 0;     // inode
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // nanoseconds since 1970
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path` (symbolic links followed); nothing
// when it does not exist or cannot be examined.
std::optional<FileIdentity> IdentifyFile(const std::string& path);
