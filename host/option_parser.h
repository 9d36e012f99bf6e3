// The command-line syntax both hosts share: "--name VALUE" or "--name=VALUE",
// "--help"/"-h", each option a setter that checks its value. vamuserver and
// vamufcgi describe their options with it; tests parse sample command lines.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace host {

struct OptionSpec {
  const char* name;                                // "--port"
  std::function<bool(const std::string&)> set;     // false: the value is refused
};

// Applies args to the setters in order. False, with a one-line reason in
// *error, for an unknown option, a missing value or one a setter refused.
// *help is set when --help or -h appears.
bool ParseOptionList(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, bool* help,
                     std::string* error);

// A decimal count within [min, max], digits only.
bool ParseCount(const std::string& text, unsigned long long min, unsigned long long max, unsigned long long* out);
// Seconds, fractions allowed ("0.5"); at least a millisecond, at most a day.
bool ParseSeconds(const std::string& text, std::chrono::milliseconds* out);

}  // namespace host
