// The installed system under test: a temporary directory with the root an
// installation goes below, and nginx as the tests run it - a master of its
// own in the foreground, with a configuration written into a work directory
// (pid file, logs, temporary files) that includes one site file, the one an
// installation wrote, with its listen lines pointed at a free loopback port.
// Used by the tests of setup's installation, of the Debian package and of
// replicas.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/tests/server_fixture.h"

namespace host::test {

// The nginx program, or "" when nginx is not installed.
std::string NginxProgram();

// A loopback port that was free a moment ago.
unsigned short FreeLoopbackPort();

// The words of a systemd unit's command line (ExecStart=); double quotes group.
std::vector<std::string> CommandWords(const std::string& line);
// The rest of the first line of `text` that starts with `start`; "" when none does.
std::string LineStarting(const std::string& text, const std::string& start);

// The site file with its listen lines replaced by one "listen ADDRESS;";
// "" when it has none.
std::string WithListen(const std::string& site, const std::string& address);

// Writes WORK/nginx.conf, which includes `siteFile`, with everything nginx
// writes below WORK, and fastcgi_params and proxy_params beside it for the
// site's includes. Returns the arguments that run nginx in the foreground
// with it.
std::vector<std::string> WriteNginxConf(const std::string& work, const std::string& siteFile);

// Waits until something accepts connections on the loopback port.
bool WaitForPort(unsigned short port, int seconds = 10);

// A test of an installation: `tmp` (readable by nginx's workers, removed at
// the end), `root` below it, and `errors`, the standard error of every server
// the test starts, which must hold no sanitizer report.
struct InstallationTest : ::testing::Test {
  std::string tmp;
  std::string root;
  std::string errors;
  ServerProcess fcgi;
  ServerProcess nginx;

  void SetUp() override;
  void TearDown() override;

  // The FastCGI host as this unit file's text starts it (ExecStart=), once it
  // listens; its runtime directory made below the root as systemd would.
  void StartUnit(const std::string& unit);
  // nginx with this site file's text, its listen lines replaced by a free
  // loopback port; its work directory is tmp/nginx. Check with
  // ASSERT_NO_FATAL_FAILURE.
  void StartNginx(const std::string& site, unsigned short* port);
  // SIGTERM to nginx, then to the host, which must end cleanly.
  void StopServers();
};

// The visit counter of the registry file ("Counter" of the server's key);
// -1 when it has none. The server writes its visits once a second: this
// waits up to 4 s for the counter to reach `expected`, and returns the value
// it last read.
long long AwaitVisits(const std::string& registryFile, long long expected);

}  // namespace host::test
