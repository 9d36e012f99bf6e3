#include "host/fcgi_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

namespace {

constexpr int kBacklog = 128;

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when a process accepts connections on the socket file at `path`.
bool SocketAnswers(const sockaddr_un& address) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
                 (errno != ECONNREFUSED && errno != ENOENT);
  ::close(fd);
  return answers;
}

}  // namespace

FcgiListener::~FcgiListener() {
  if (m_fd >= 0) ::close(m_fd);
  struct stat st;
  // A later instance may have replaced the file: only our own goes.
  if (!m_path.empty() && ::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino)
    ::unlink(m_path.c_str());
}

bool FcgiListener::OpenUnix(const std::string& path, mode_t mode, std::string* error) {
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    *error = "the socket path " + path + " is too long";
    return false;
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    if (SocketAnswers(address)) {
      *error = "another process listens on " + path;
      return false;
    }
    ::unlink(path.c_str());  // left behind by a host that is gone
  }
  m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) {
    *error = Reason("cannot create a socket");
    return false;
  }
  // The file is made without any permission and opened up to `mode` once it
  // exists, so nobody connects in between with the process's umask rights.
  mode_t old = ::umask(0777);
  int bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int bindErrno = errno;
  ::umask(old);
  if (bound != 0) {
    errno = bindErrno;
    *error = Reason("cannot bind " + path);
    return false;
  }
  if (::lstat(path.c_str(), &st) == 0) {
    m_path = path;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
  }
  if (::chmod(path.c_str(), mode) != 0 || ::listen(m_fd, kBacklog) != 0) {
    *error = Reason("cannot listen on " + path);
    return false;
  }
  return true;
}

bool FcgiListener::OpenLoopback(unsigned short port, std::string* error) {
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) {
    *error = Reason("cannot create a socket");
    return false;
  }
  int on = 1;
  ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_fd, kBacklog) != 0) {
    *error = Reason("cannot listen on 127.0.0.1:" + std::to_string(port));
    return false;
  }
  return true;
}

unsigned short FcgiListener::Port() const {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      address.sin_family != AF_INET)
    return 0;
  return ntohs(address.sin_port);
}

std::string FcgiListener::Address() const {
  if (!m_path.empty()) return m_path;
  return "127.0.0.1:" + std::to_string(Port());
}

void FcgiListener::Shutdown() {
  // shutdown() on a listening socket makes blocked and later accept() calls
  // fail at once (EINVAL); close() alone would leave them blocked.
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

}  // namespace host
