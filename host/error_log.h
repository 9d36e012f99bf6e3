// The server's error log: one line on standard error per event, through the
// platform message box so tests can collect the lines. Access lines go to the
// access log instead (access_log.h).
#pragma once

#include <string>

namespace host {

// The caption of every line: the program's name ("vamuserver", "vamufcgi").
// main() sets it once, before any thread starts.
void SetLogName(const std::string& name);
void LogError(const std::string& text);

}  // namespace host
