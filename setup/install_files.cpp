#include "setup/install_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"

namespace {

bool HasOnlyPlainParts(const std::string& path, std::size_t from) {
  std::size_t i = from;
  while (i <= path.size()) {
    std::size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(i, slash - i);
    if (part.empty() || part == "." || part == "..") return false;
    i = slash + 1;
  }
  return true;
}

}  // namespace

bool IsPlainRelativePath(const std::string& name) {
  return !name.empty() && name.front() != '/' && name.find('\0') == std::string::npos && HasOnlyPlainParts(name, 0);
}

bool PathBelowRoot(const std::string& path, const std::string& root) {
  if (path.size() < 2 || path.front() != '/' || path.find('\0') != std::string::npos) return false;
  if (!HasOnlyPlainParts(path, 1)) return false;
  if (root == "/") return true;
  return path.size() > root.size() + 1 && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
}

bool MakeDirectories(const std::string& dir, std::string* why) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *why = dir + " exists and is not a directory";
    return false;
  }
  std::string parent = DirectoryOf(dir);
  if (parent != dir && parent != "." && !MakeDirectories(parent, why)) return false;
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    *why = "cannot create " + dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& target, const std::function<bool(const std::string& path)>& fill,
                 mode_t mode, const struct timespec* mtime, std::string* why) {
  std::string dir = DirectoryOf(target);
  if (!MakeDirectories(dir, why)) return false;
  // The new file is made in the target's directory, so that the rename
  // replaces the target in one step and never crosses file systems.
  auto temp = CreateTempFile(dir, ".vamu-setup.");
  if (!temp) {
    *why = "cannot write in " + dir + ": " + std::strerror(errno);
    return false;
  }
  bool ok = fill(*temp);
  if (!ok) *why = "cannot write " + target + ": " + std::strerror(errno ? errno : EIO);
  if (ok && ::chmod(temp->c_str(), mode) != 0) {
    ok = false;
    *why = "cannot set the mode of " + target + ": " + std::strerror(errno);
  }
  if (ok && mtime) {
    struct timespec times[2] = {{0, UTIME_NOW}, *mtime};
    if (::utimensat(AT_FDCWD, temp->c_str(), times, 0) != 0) {
      ok = false;
      *why = "cannot set the time of " + target + ": " + std::strerror(errno);
    }
  }
  if (ok && ::rename(temp->c_str(), target.c_str()) != 0) {
    ok = false;
    *why = "cannot replace " + target + ": " + std::strerror(errno);
  }
  if (!ok) ::unlink(temp->c_str());
  return ok;
}
