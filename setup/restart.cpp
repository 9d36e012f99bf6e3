#include "setup/restart.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>

extern char** environ;

std::vector<RestartStep> DefaultRestart() {
  return {
      {"systemctl daemon-reload", {"systemctl", "daemon-reload"}},
      {"systemctl restart nginx vamufcgi", {"systemctl", "restart", "nginx.service", "vamufcgi.service"}},
  };
}

std::vector<RestartStep> ShellRestart(const std::vector<std::string>& commands) {
  std::vector<RestartStep> steps;
  for (const std::string& c : commands) steps.push_back({c, {"/bin/sh", "-c", c}});
  return steps;
}

namespace {

bool RunStep(const RestartStep& step) {
  if (step.argv.empty()) return false;
  std::vector<char*> argv;
  for (const std::string& a : step.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);  // the child must not repeat buffered output
  pid_t pid;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int RunRestart(const std::vector<RestartStep>& steps, CConsole& console) {
  int failed = 0;
  for (const RestartStep& step : steps) {
    if (RunStep(step)) continue;
    console.Line(step.name);
    ++failed;
  }
  return failed;
}
