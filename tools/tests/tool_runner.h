// Runs the vamubase program and captures its exit status and output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tool_test {

struct Result {
  int status = -1;
  std::string out, err;
};

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string Slurp(const std::string& path) {
  std::string s;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
  }
  return s;
}

// Runs `program args...` with standard output and error in files under dir.
inline Result Run(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
  std::string cmd = Quote(program);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " >" + Quote(dir + "/out") + " 2>" + Quote(dir + "/err") + " </dev/null";
  int raw = std::system(cmd.c_str());
  Result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(dir + "/out");
  r.err = Slurp(dir + "/err");
  return r;
}

}  // namespace tool_test
