// The setup program's run: the checks, the information file beside the
// program, the question about the act texts, the file copies, the registry
// and configuration files, the closing question and the restart. main()
// calls it once.
#pragma once

#include <cstdio>
#include <string>

#include "setup/console.h"
#include "setup/setup_options.h"

// Exit status of the program.
enum SetupExit {
  kSetupComplete = 0,    // everything installed
  kSetupIncomplete = 1,  // stopped by a check, or something not installed
  kSetupUsage = 2,       // wrong command line
  kSetupCancelled = 3,   // the question about the act texts was cancelled
};

// Installs from "VamuQad.inf" in the directory of `programPath`. Messages
// and questions go through `console`; the reasons of failures, one line
// each, to `diagnostics`.
SetupExit RunSetup(const SetupOptions& options, const std::string& programPath, CConsole& console,
                   std::FILE* diagnostics);
