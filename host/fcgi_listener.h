// The listening socket of vamufcgi: a Unix socket (the installed set-up, where
// nginx connects to /run/vamu/vamufcgi.sock) or a loopback TCP port. Opened by
// main() before the request threads start; they hand its descriptor to
// libfcgi's accept. Shutdown wakes every thread blocked in that accept.
#pragma once

#include <sys/types.h>

#include <string>

namespace host {

class FcgiListener {
 public:
  FcgiListener() = default;
  FcgiListener(const FcgiListener&) = delete;
  FcgiListener& operator=(const FcgiListener&) = delete;
  // Closes the socket and removes the socket file it created (only while that
  // file is still the one it bound).
  ~FcgiListener();

  // Binds a Unix socket at `path` with permissions `mode`. A socket file left
  // behind by a process that is gone is replaced; one that still answers, or
  // anything that is not a socket, is left alone and the open fails. False
  // with a one-line reason in *error.
  bool OpenUnix(const std::string& path, mode_t mode, std::string* error);
  // Binds 127.0.0.1:port (0: a free port, see Port()).
  bool OpenLoopback(unsigned short port, std::string* error);

  int Fd() const { return m_fd; }
  unsigned short Port() const;
  // "/run/vamu/vamufcgi.sock" or "127.0.0.1:9000", for messages.
  std::string Address() const;

  // Stops accepting: threads blocked in accept() return with an error and
  // connections not yet accepted are refused. Safe from any thread, once or
  // more; the descriptor stays open until destruction.
  void Shutdown();

 private:
  int m_fd = -1;
  std::string m_path;   // Unix socket file we created
  dev_t m_dev = 0;
  ino_t m_ino = 0;
};

}  // namespace host
