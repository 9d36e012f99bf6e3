// The restart at the end of an installation: the web service and the
// FastCGI host are restarted (not the machine) so that they read the new
// configuration, libraries and registry. Used by the setup program.
#pragma once

#include <string>
#include <vector>

#include "setup/console.h"

struct RestartStep {
  std::string name;               // what a failure reports
  std::vector<std::string> argv;  // the program and its arguments
};

// systemd reads the new unit, then nginx and the FastCGI host restart.
std::vector<RestartStep> DefaultRestart();
// Each command run by /bin/sh -c, named by its text.
std::vector<RestartStep> ShellRestart(const std::vector<std::string>& commands);

// Runs the steps in order. A step that cannot be started or ends with
// another status than 0 writes its name on a line of the console and the
// next step runs all the same. Returns the number of steps that failed.
int RunRestart(const std::vector<RestartStep>& steps, CConsole& console);
