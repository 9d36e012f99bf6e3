// setup: installs Vamu Qad under nginx from VamuQad.inf beside the program.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup/console.h"
#include "setup/setup_options.h"
#include "setup/setup_program.h"

namespace {

// The program's own path: the information file and the files it installs
// lie beside it.
std::string ProgramPath(const char* argv0) {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n > 0) return std::string(buf.data(), static_cast<std::size_t>(n));
  return argv0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = ParseSetupOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!options) {
    std::fprintf(stderr, "setup: %s (try --help)\n", error.c_str());
    return kSetupUsage;
  }
  if (options->help) {
    std::fputs(SetupUsage().c_str(), stdout);
    return kSetupComplete;
  }
  CConsole console(TerminalCharset(), stdin, stdout);
  return RunSetup(*options, ProgramPath(argv[0]), console, stderr);
}
