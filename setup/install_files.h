// File-system steps shared by the parts of an installation: where a file
// may go, and replacing a file so that it is either the old one or the whole
// new one. Used by CFileQueue and the configuration files.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

// Where an installation takes its files from and where it puts them.
struct InstallTarget {
  std::string sourceDir;     // the setup program's directory, the source root
  std::string root;          // "/" or the directory everything goes below
  std::string registryFile;  // the registry file written by AddReg
};

// Collects the reasons of failures (one line each) for the program to show.
using Report = std::function<void(const std::string&)>;

// True when `path` is absolute, has no "." or ".." parts and lies below
// `root` ("/" holds every absolute path).
bool PathBelowRoot(const std::string& path, const std::string& root);

// True when `name` can be joined to a directory without leaving it: not
// empty, not absolute, no "." or ".." parts, no empty parts.
bool IsPlainRelativePath(const std::string& name);

// Creates a directory and its missing parents (mode 0755). False, with the
// reason in *why, when a part exists and is no directory or cannot be made.
bool MakeDirectories(const std::string& dir, std::string* why);

// Replaces `target` by a file that `fill` writes at the path it is given: a
// new file beside the target, renamed over it once filled, with `mode` and,
// when given, the modification time `mtime`. On any failure the target is
// left as it was, the new file is removed and *why says what failed.
bool ReplaceFile(const std::string& target, const std::function<bool(const std::string& path)>& fill,
                 mode_t mode, const struct timespec* mtime, std::string* why);
