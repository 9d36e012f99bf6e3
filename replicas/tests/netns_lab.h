// Machines on one host for the replica test: network namespaces made with
// `ip netns`, joined by veth pairs, processes started inside them and threads
// that join them. Every namespace is named "vqr<pid>-<name>" after the test
// process; the lab removes its namespaces and kills its processes when it is
// destroyed, its processes die with the test process (parent-death signal),
// and a new lab first removes the namespaces of test processes that no longer
// run (a test killed from outside leaves them behind).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace replicas::test {

class NetnsLab {
 public:
  NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;
  ~NetnsLab();  // kills the processes, removes the namespaces

  // Makes a namespace with its loopback up. False, with ip's words in
  // Error(), when namespaces cannot be made here.
  bool AddMachine(const std::string& name);
  // A veth pair between two machines: `ifaceA` with `addressA` (CIDR, e.g.
  // 10.77.1.1/24) in machine a, `ifaceB` with `addressB` in machine b, both up.
  bool Link(const std::string& a, const std::string& ifaceA, const std::string& addressA, const std::string& b,
            const std::string& ifaceB, const std::string& addressB);

  // Starts argv (argv[0] a path) in the machine, standard output and error
  // appended to `output`. -1 on failure.
  pid_t Start(const std::string& machine, const std::vector<std::string>& argv, const std::string& output);
  // Sends a signal to a process of the lab and, for SIGKILL and SIGTERM,
  // waits for its end (at most 10 s); its exit status, nothing when it did not end.
  std::optional<int> Stop(pid_t pid, int signal);

  // Makes the calling thread a member of the machine's network (sockets it
  // opens from then on are the machine's).
  bool Join(const std::string& machine) const;

  // The namespace name of a machine, and every namespace name of this lab.
  std::string Namespace(const std::string& machine) const;
  const std::vector<std::string>& Namespaces() const { return m_namespaces; }
  const std::string& Error() const { return m_error; }

  // Names of the namespaces that `ip netns list` shows now.
  static std::vector<std::string> ListNamespaces();

 private:
  bool Ip(const std::vector<std::string>& args);
  void RemoveStale();

  std::string m_prefix;
  std::vector<std::string> m_namespaces;
  std::vector<pid_t> m_processes;
  std::string m_error;
};

}  // namespace replicas::test
