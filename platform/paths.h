// Places in the file system: the temporary directory, unique temporary files
// with the system's "vamu" prefix, and the directory of a loaded library.
#pragma once

#include <optional>
#include <string>

// $TMPDIR when it names a directory, else "/tmp".
std::string TempDirectory();

// Creates a new empty file "<start>XXXXXX" (six characters that make the name
// unique) and returns its path; nothing when its directory is not writable.
std::optional<std::string> CreateUniqueFile(const std::string& start);
// The same as "<dir>/<prefix>XXXXXX".
std::optional<std::string> CreateTempFile(const std::string& dir, const std::string& prefix = "vamu");

// Directory of the loaded shared library whose file name starts with "lib" + name
// (or with name), e.g. "portico" finds ".../lib/libportico.so"; nothing when no
// such library is loaded.
std::optional<std::string> LoadedModuleDirectory(const std::string& name);

// The canonical path (no symbolic links, no "." or "..") of `name` below
// `dir`, when the file exists and its canonical path lies inside the canonical
// `dir`; nothing otherwise, with errno set (EACCES for a path that leads out of
// the directory). The rule by which a site serves only its own files.
std::optional<std::string> CanonicalPathInside(const std::string& dir, const std::string& name);

// The directory part of a path ("." when there is none).
std::string DirectoryOf(const std::string& path);
