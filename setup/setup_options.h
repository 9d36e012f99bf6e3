// The command line of the setup program. main() parses it; tests parse
// sample command lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "setup/console.h"

struct SetupOptions {
  // The installation goes below this directory: every destination of the
  // information file, the registry file and the web service's and service
  // manager's configuration. "/" installs into the system.
  std::string root = "/";
  // The registry file; empty: the system's registry file below the root.
  std::string registryFile;
  std::optional<Answer> copyTexts;  // answer to the question about the act texts
  std::optional<Answer> restart;    // answer to the closing question
  // Commands (for /bin/sh) that replace the restart of the web service and
  // the FastCGI host; empty: the default restart, none below another root.
  std::vector<std::string> restartCommands;
  bool help = false;
};

// Parses argv[1..]. Nothing, with a one-line reason in *error, for an
// unknown option, a missing value or a contradiction (--full with --default).
std::optional<SetupOptions> ParseSetupOptions(const std::vector<std::string>& args, std::string* error);

// The text of --help.
std::string SetupUsage();
