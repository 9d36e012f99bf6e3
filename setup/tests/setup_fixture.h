// A distribution directory and an installation root in a temporary
// directory, and a runner for the setup program inside it. The setup program
// finds its information file beside itself, so each test runs its own copy
// of the built program from its own distribution directory.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace setup_test {

struct RunResult {
  int status = -1;
  std::string out, err;
};

// Reads a whole file; empty when it cannot be read.
std::string Slurp(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
// Sets a file's modification time to `seconds` from now (negative: past).
void SetAge(const std::string& path, long seconds);

// Runs `program args...` with `input` as standard input and LC_ALL=locale,
// keeping its output in files below `dir`.
RunResult RunProgram(const std::string& dir, const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = "", const std::string& locale = "C.UTF-8");

// Makes a new temporary directory.
std::string MakeTempDir();

// Paths, types, modes, times, contents and link targets of every entry
// below a directory: two equal snapshots are the same tree.
std::map<std::string, std::string> Snapshot(const std::string& dir);

class SetupRun : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs dist/setup with the arguments, "--root root" first, the text as
  // standard input and the locale LC_ALL=locale.
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& locale = "C.UTF-8");
  // The same with the arguments as they are (no root added).
  RunResult RunPlain(const std::vector<std::string>& args, const std::string& input = "",
                     const std::string& locale = "C.UTF-8");

  // Under the root / the distribution.
  std::string R(const std::string& path) const { return root_ + path; }
  std::string D(const std::string& path) const { return dist_ + "/" + path; }
  std::string RegistryText() const { return Slurp(R("/etc/vamu/registry.reg")); }

  std::string tmp_, dist_, root_;
  // Source files of the distribution (below dist_) as the information file lists them.
  std::vector<std::string> sources_;
};

}  // namespace setup_test
