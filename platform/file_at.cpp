#include "platform/file_at.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

CFileAt::~CFileAt() { Close(); }

bool CFileAt::Open(const std::string& path) {
  Close();
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_fd < 0) return false;
  struct stat st {};
  if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    // What to tell the reader: why fstat failed, or what the name stands for.
    const int why = !S_ISREG(st.st_mode) && st.st_mode != 0 ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL) : errno;
    Close();
    errno = why;
    return false;
  }
  m_length = static_cast<ULONGLONG>(st.st_size);
  return true;
}

void CFileAt::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_length = 0;
}

std::size_t CFileAt::ReadAt(ULONGLONG offset, void* buffer, std::size_t count) const {
  std::size_t done = 0;
  while (done < count && m_fd >= 0) {
    ssize_t n = ::pread(m_fd, static_cast<char*>(buffer) + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::optional<std::string> CreateFileBeside(const std::string& path) { return CreateUniqueFile(path + ".new"); }

bool TakeAccessOf(const std::string& model, const std::string& path) {
  struct stat st {};
  if (::stat(model.c_str(), &st) != 0) return false;
  if (::chown(path.c_str(), static_cast<uid_t>(-1), st.st_gid) != 0) {
    // Not a group of this process: the permissions below still follow the model's.
  }
  return ::chmod(path.c_str(), st.st_mode & 0666) == 0;
}

bool ReplaceWith(const std::string& temporary, const std::string& path) {
  int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}
