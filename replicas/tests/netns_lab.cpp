#include "replicas/tests/netns_lab.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "host/tests/server_fixture.h"

namespace replicas::test {

namespace {

constexpr char kPrefix[] = "vqr";

// Runs a command to its end; its exit status, its output in *out.
int Command(const std::vector<std::string>& args, std::string* out) {
  std::string line;
  for (const std::string& a : args) line += "'" + a + "' ";
  line += "2>&1";
  FILE* p = ::popen(line.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out->append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

NetnsLab::NetnsLab() : m_prefix(std::string(kPrefix) + std::to_string(::getpid()) + "-") { RemoveStale(); }

NetnsLab::~NetnsLab() {
  for (pid_t pid : m_processes) {
    ::kill(pid, SIGKILL);
    host::test::WaitForExit(pid, std::chrono::seconds(5));
  }
  std::string out;
  for (const std::string& ns : m_namespaces) Command({"ip", "netns", "delete", ns}, &out);
}

std::vector<std::string> NetnsLab::ListNamespaces() {
  std::string out;
  Command({"ip", "netns", "list"}, &out);
  std::vector<std::string> names;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::string name = line.substr(0, line.find(' '));
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

void NetnsLab::RemoveStale() {
  for (const std::string& name : ListNamespaces()) {
    if (name.rfind(kPrefix, 0) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name.c_str() + std::strlen(kPrefix), &end, 10);
    if (pid <= 0 || *end != '-') continue;
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;  // its test still runs
    std::string out;
    Command({"ip", "netns", "delete", name}, &out);
  }
}

bool NetnsLab::Ip(const std::vector<std::string>& args) {
  std::vector<std::string> all{"ip"};
  all.insert(all.end(), args.begin(), args.end());
  std::string out;
  if (Command(all, &out) == 0) return true;
  m_error = "ip";
  for (const std::string& a : args) m_error += " " + a;
  m_error += ": " + out;
  return false;
}

std::string NetnsLab::Namespace(const std::string& machine) const { return m_prefix + machine; }

bool NetnsLab::AddMachine(const std::string& name) {
  std::string ns = Namespace(name);
  if (!Ip({"netns", "add", ns})) return false;
  m_namespaces.push_back(ns);
  return Ip({"-n", ns, "link", "set", "lo", "up"});
}

bool NetnsLab::Link(const std::string& a, const std::string& ifaceA, const std::string& addressA,
                    const std::string& b, const std::string& ifaceB, const std::string& addressB) {
  return Ip({"link", "add", "name", ifaceA, "netns", Namespace(a), "type", "veth", "peer", "name", ifaceB, "netns",
             Namespace(b)}) &&
         Ip({"-n", Namespace(a), "addr", "add", addressA, "dev", ifaceA}) &&
         Ip({"-n", Namespace(b), "addr", "add", addressB, "dev", ifaceB}) &&
         Ip({"-n", Namespace(a), "link", "set", "dev", ifaceA, "up"}) &&
         Ip({"-n", Namespace(b), "link", "set", "dev", ifaceB, "up"});
}

pid_t NetnsLab::Start(const std::string& machine, const std::vector<std::string>& argv, const std::string& output) {
  // Everything the child needs is made before fork: between fork and exec a
  // child of a threaded process may only make system calls.
  std::string path = "/run/netns/" + Namespace(machine);
  int nsFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int outFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::vector<std::string> args = argv;
  std::vector<char*> cargs;
  for (std::string& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  pid_t parent = ::getpid();
  pid_t pid = -1;
  if (nsFd >= 0 && outFd >= 0 && nullFd >= 0) pid = ::fork();
  if (pid == 0) {
    // The process dies with the test, whatever ends the test.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    if (::setns(nsFd, CLONE_NEWNET) != 0) ::_exit(126);
    ::dup2(nullFd, 0);
    ::dup2(outFd, 1);
    ::dup2(outFd, 2);
    ::execv(cargs[0], cargs.data());
    ::_exit(127);
  }
  for (int fd : {nsFd, outFd, nullFd})
    if (fd >= 0) ::close(fd);
  if (pid > 0) m_processes.push_back(pid);
  return pid;
}

std::optional<int> NetnsLab::Stop(pid_t pid, int signal) {
  if (std::find(m_processes.begin(), m_processes.end(), pid) == m_processes.end()) return std::nullopt;
  ::kill(pid, signal);
  if (signal != SIGKILL && signal != SIGTERM) return std::nullopt;
  std::optional<int> status = host::test::WaitForExit(pid, std::chrono::seconds(10));
  if (status) m_processes.erase(std::find(m_processes.begin(), m_processes.end(), pid));
  return status;
}

bool NetnsLab::Join(const std::string& machine) const {
  std::string path = "/run/netns/" + Namespace(machine);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool joined = ::setns(fd, CLONE_NEWNET) == 0;
  ::close(fd);
  return joined;
}

}  // namespace replicas::test
