#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

[[noreturn]] void ThrowErrno(const std::string& path) { CFileException::ThrowOsError(errno, path); }

}  // namespace

CFile::CFile() = default;

CFile::CFile(const char* path, UINT flags) {
  CFileException error;
  if (!Open(path, flags, &error)) throw error;
}

CFile::~CFile() { Abort(); }

BOOL CFile::Open(const char* path, UINT flags, CFileException* error) {
  Abort();
  int access = O_RDONLY;
  switch (flags & 3) {
    case modeWrite: access = O_WRONLY; break;
    case modeReadWrite: access = O_RDWR; break;
    default: break;
  }
  int oflags = access | O_CLOEXEC;
  if (flags & modeCreate) {
    oflags |= O_CREAT;
    if (!(flags & modeNoTruncate)) oflags |= O_TRUNC;
  }
  const bool writable = (flags & 3) != 0;
  const bool lock = (flags & 0x70) != shareDenyNone;
  // Truncation must wait until the lock is ours, or a reader's file is cut under it.
  int fd = ::open(path, oflags & ~O_TRUNC, 0644);
  if (fd < 0) {
    if (error) *error = CFileException(CFileException::OsErrorToCause(errno), errno, path);
    return FALSE;
  }
  if (lock && ::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    if (error)
      *error = CFileException(e == EWOULDBLOCK ? CFileException::sharingViolation
                                               : CFileException::OsErrorToCause(e),
                              e, path);
    return FALSE;
  }
  if ((oflags & O_TRUNC) && ::ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    if (error) *error = CFileException(CFileException::OsErrorToCause(e), e, path);
    return FALSE;
  }
  DropReadAhead();
  m_fd = fd;
  m_flags = flags;
  m_position = 0;
  m_path = path;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (m_fd < 0) throw CFileException(CFileException::invalidFile, 0, m_path);
  auto* out = static_cast<char*>(buffer);
  UINT done = 0;
  while (done < count) {
    // Served from the window when the position lies in it.
    if (m_position >= m_aheadStart && m_position < m_aheadStart + m_aheadLength) {
      UINT offset = static_cast<UINT>(m_position - m_aheadStart);
      UINT n = m_aheadLength - offset;
      if (n > count - done) n = count - done;
      std::memcpy(out + done, m_ahead.get() + offset, n);
      done += n;
      m_position += n;
      continue;
    }
    const bool direct = count - done >= kReadAhead;
    if (!direct && !m_ahead) m_ahead.reset(new char[kReadAhead]);
    char* target = direct ? out + done : m_ahead.get();
    if (!direct) {
      const bool sequential = m_aheadLength != 0 && m_position == m_aheadStart + m_aheadLength;
      m_aheadWindow = sequential ? std::min(m_aheadWindow * 2, kReadAhead) : kFirstWindow;
    }
    UINT want = direct ? count - done : std::max(m_aheadWindow, std::min(count - done, kReadAhead));
    ssize_t n = ::pread(m_fd, target, want, static_cast<off_t>(m_position));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(m_path);
    }
    if (n == 0) break;
    if (direct) {
      done += static_cast<UINT>(n);
      m_position += static_cast<ULONGLONG>(n);
    } else {
      m_aheadStart = m_position;
      m_aheadLength = static_cast<UINT>(n);
    }
  }
  return done;
}

void CFile::Write(const void* buffer, UINT count) {
  if (m_fd < 0) throw CFileException(CFileException::invalidFile, 0, m_path);
  DropReadAhead();
  const auto* in = static_cast<const char*>(buffer);
  UINT done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(m_fd, in + done, count - done, static_cast<off_t>(m_position));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(m_path);
    }
    if (n == 0) throw CFileException(CFileException::diskFull, ENOSPC, m_path);
    done += static_cast<UINT>(n);
    m_position += static_cast<ULONGLONG>(n);
  }
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  if (m_fd < 0) throw CFileException(CFileException::invalidFile, 0, m_path);
  LONGLONG base = 0;
  if (from == current) base = static_cast<LONGLONG>(m_position);
  else if (from == end) base = static_cast<LONGLONG>(GetLength());
  LONGLONG target = base + offset;
  if (target < 0) throw CFileException(CFileException::badSeek, EINVAL, m_path);
  m_position = static_cast<ULONGLONG>(target);
  return m_position;
}

ULONGLONG CFile::GetPosition() const { return m_position; }

ULONGLONG CFile::GetLength() const {
  if (m_fd < 0) throw CFileException(CFileException::invalidFile, 0, m_path);
  struct stat st;
  if (::fstat(m_fd, &st) != 0) ThrowErrno(m_path);
  return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG newLength) {
  if (m_fd < 0) throw CFileException(CFileException::invalidFile, 0, m_path);
  DropReadAhead();
  if (::ftruncate(m_fd, static_cast<off_t>(newLength)) != 0) ThrowErrno(m_path);
}

void CFile::Flush() {
  if (m_fd >= 0 && ::fsync(m_fd) != 0) ThrowErrno(m_path);
}

void CFile::StartFlush() {
  // Asks for the writing of every dirty page of the file; a failure shows in
  // the Flush that follows.
  if (m_fd >= 0) ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void CFile::Close() {
  DropReadAhead();
  if (m_fd < 0) return;
  int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0 && errno != EINTR) ThrowErrno(m_path);
}

void CFile::Abort() {
  DropReadAhead();
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

// ---------------------------------------------------------------------------

CMemFile::CMemFile(UINT growBytes) : m_growBytes(growBytes ? growBytes : 1024) {}

CMemFile::CMemFile(CMemFile&& other) noexcept
    : m_buffer(other.m_buffer), m_capacity(other.m_capacity), m_length(other.m_length), m_growBytes(other.m_growBytes) {
  m_position = other.m_position;
  other.m_buffer = nullptr;
  other.m_capacity = other.m_length = 0;
  other.m_position = 0;
}

CMemFile::~CMemFile() { Close(); }

BOOL CMemFile::Open(const char*, UINT, CFileException* error) {
  if (error) *error = CFileException(CFileException::invalidFile);
  return FALSE;
}

void CMemFile::Grow(std::size_t needed) {
  if (needed <= m_capacity) return;
  // Rounded to the grow step; large files grow by half again at least, so that
  // filling a big document does not copy it over and over.
  std::size_t step = m_growBytes;
  std::size_t target = (needed + step - 1) / step * step;
  if (target < needed) throw CMemoryException();
  std::size_t geometric = m_capacity + m_capacity / 2;
  if (m_capacity >= (1u << 20) && geometric > target) target = geometric;
  void* p = std::realloc(m_buffer, target);
  if (!p) throw CMemoryException();
  m_buffer = static_cast<BYTE*>(p);
  m_capacity = target;
}

void CMemFile::Reserve(std::size_t capacity) { Grow(capacity); }

BYTE* CMemFile::PrepareWrite(std::size_t n) {
  std::size_t end = static_cast<std::size_t>(m_position) + n;
  if (end > std::numeric_limits<UINT>::max()) throw CMemoryException();
  Grow(end);
  if (m_position > m_length) {
    std::memset(m_buffer + m_length, 0, m_position - m_length);
    m_length = m_position;
  }
  return m_buffer + m_position;
}

void CMemFile::CommitWrite(std::size_t k) {
  m_position += k;
  if (m_position > m_length) m_length = m_position;
}

UINT CMemFile::Read(void* buffer, UINT count) {
  if (m_position >= m_length) return 0;
  std::size_t left = m_length - static_cast<std::size_t>(m_position);
  UINT n = count < left ? count : static_cast<UINT>(left);
  std::memcpy(buffer, m_buffer + m_position, n);
  m_position += n;
  return n;
}

void CMemFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  std::size_t end = static_cast<std::size_t>(m_position) + count;
  if (end > std::numeric_limits<UINT>::max()) throw CMemoryException();
  Grow(end);
  if (m_position > m_length) std::memset(m_buffer + m_length, 0, m_position - m_length);
  std::memcpy(m_buffer + m_position, buffer, count);
  m_position = end;
  if (end > m_length) m_length = end;
}

ULONGLONG CMemFile::Seek(LONGLONG offset, UINT from) {
  LONGLONG base = 0;
  if (from == current) base = static_cast<LONGLONG>(m_position);
  else if (from == end) base = static_cast<LONGLONG>(m_length);
  LONGLONG target = base + offset;
  if (target < 0) throw CFileException(CFileException::badSeek, EINVAL);
  m_position = static_cast<ULONGLONG>(target);
  return m_position;
}

void CMemFile::SetLength(ULONGLONG newLength) {
  if (newLength > std::numeric_limits<UINT>::max()) throw CMemoryException();
  std::size_t n = static_cast<std::size_t>(newLength);
  Grow(n);
  if (n > m_length) std::memset(m_buffer + m_length, 0, n - m_length);
  m_length = n;
  if (m_position > m_length) m_position = m_length;
}

void CMemFile::Close() {
  std::free(m_buffer);
  m_buffer = nullptr;
  m_capacity = m_length = 0;
  m_position = 0;
}

BYTE* CMemFile::Detach() {
  BYTE* p = m_buffer;
  m_buffer = nullptr;
  m_capacity = m_length = 0;
  m_position = 0;
  return p;
}

// ---------------------------------------------------------------------------

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool CopyFileReplace(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  static constexpr std::size_t kChunk = 1 << 16;
  char* buf = static_cast<char*>(std::malloc(kChunk));
  if (!buf) ok = false;
  while (ok) {
    ssize_t n = ::read(in, buf, kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
  }
  std::free(buf);
  ::close(in);
  if (ok && ::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  return ok;
}

bool DeleteFileAt(const std::string& path) { return ::unlink(path.c_str()) == 0; }
