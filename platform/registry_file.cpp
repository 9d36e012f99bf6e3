// Reading and replacing the registry file: the writers' lock, the temporary
// file beside it and what dead writers left of theirs.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace {

// A registry file larger than this is not read (it is not one of ours).
constexpr off_t kMaxRegistryBytes = 64 << 20;

// Earlier writers named their temporary files ".registry.XXXXXX", whatever the
// registry file was called, so such a file may belong to a writer of another
// registry file in the same directory; it is taken for a dead writer's only when
// it is older than any write takes.
constexpr std::string_view kOldTempPrefix = ".registry.";
constexpr std::time_t kOldTempAgeSeconds = 600;
constexpr std::size_t kTempSuffixLength = 6;  // the "XXXXXX" of mkstemp

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".<name of the registry file>.XXXXXX": only a writer of this very file, which
// holds its lock, makes such a file.
std::string TempPrefix(const std::string& path) { return "." + BaseName(path) + "."; }

bool IsTempName(std::string_view name, std::string_view prefix) {
  return name.size() == prefix.size() + kTempSuffixLength && name.substr(0, prefix.size()) == prefix;
}

// Called with the writers' lock held: a temporary file of this registry that
// exists now was left by a writer that died before renaming it.
void RemoveDeadWritersFiles(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const std::string prefix = TempPrefix(path);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const std::time_t now = std::time(nullptr);
  while (dirent* entry = ::readdir(d)) {
    std::string_view name = entry->d_name;
    bool ours = IsTempName(name, prefix);
    bool old = !ours && IsTempName(name, kOldTempPrefix);
    if (!ours && !old) continue;
    std::string file = dir + "/" + std::string(name);
    struct stat st;
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (old && now - st.st_mtime < kOldTempAgeSeconds) continue;
    ::unlink(file.c_str());
  }
  ::closedir(d);
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes `data` to a new temporary file beside `path` and renames it over
// `path`; on failure the temporary file is gone and errno tells why.
bool ReplaceFile(const std::string& path, const std::string& data) {
  auto tmp = CreateTempFile(DirectoryOf(path), TempPrefix(path));
  if (!tmp) return false;
  int fd = ::open(tmp->c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  struct stat st;
  // Keep the permissions of the file being replaced.
  if (fd >= 0 && ::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  else if (fd >= 0) ::fchmod(fd, 0644);
  bool ok = fd >= 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
  int e = errno;
  if (fd >= 0) ::close(fd);
  if (ok && ::rename(tmp->c_str(), path.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    ::unlink(tmp->c_str());
    errno = e;
    return false;
  }
  int dirFd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace

namespace {
std::mutex processPathMutex;
std::string& ProcessPath() {
  static std::string path;
  return path;
}
}  // namespace

void CRegistry::UseForThisProcess(std::string path) {
  std::lock_guard<std::mutex> lock(processPathMutex);
  ProcessPath() = std::move(path);
}

std::string CRegistry::DefaultPath() {
  {
    std::lock_guard<std::mutex> lock(processPathMutex);
    if (!ProcessPath().empty()) return ProcessPath();
  }
  const char* env = std::getenv("VAMU_REGISTRY");
  return (env && *env) ? env : "/etc/vamu/registry.reg";
}

CRegistry CRegistry::Load(const std::string& path, bool* ok) {
  if (ok) *ok = true;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (ok && errno != ENOENT) *ok = false;
    return {};
  }
  std::string data;
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size > kMaxRegistryBytes) {
    ::close(fd);
    if (ok) *ok = false;
    return {};
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (ok) *ok = false;
      break;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (static_cast<off_t>(data.size()) > kMaxRegistryBytes) break;
  }
  ::close(fd);
  return Parse(data);
}

bool CRegistry::Update(const std::string& path, const std::function<void(CRegistry&)>& change) {
  std::string lockPath = path + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) return false;
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      int e = errno;
      ::close(lockFd);
      errno = e;
      return false;
    }
  }
  RemoveDeadWritersFiles(path);
  bool ok = false;
  int e = 0;
  bool readOk = true;
  CRegistry reg = Load(path, &readOk);
  if (!readOk) {
    e = errno ? errno : EIO;
  } else {
    change(reg);
    std::string data = reg.Serialize();
    // What is written must read back as what was meant: a value that the file
    // format cannot hold (a line break in a name or text, a key named like a
    // deletion block) would otherwise change or hide other values.
    if (!Parse(data).ReadsSameAs(reg)) {
      MessageBox("registry file " + path + ": not rewritten, the change would not read back as made", "registry");
      e = EINVAL;
    } else {
      ok = ReplaceFile(path, data);
      e = errno;
    }
  }
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  errno = e;
  return ok;
}
