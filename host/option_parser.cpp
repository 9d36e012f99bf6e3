#include "host/option_parser.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace host {

bool ParseCount(const std::string& text, unsigned long long min, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno || *end || value < min || value > max) return false;
  *out = value;
  return true;
}

bool ParseSeconds(const std::string& text, std::chrono::milliseconds* out) {
  if (text.empty() || !((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) return false;
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (*end || !std::isfinite(seconds) || seconds < 0.001 || seconds > 86400) return false;
  *out = std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
  return true;
}

bool ParseOptionList(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, bool* help,
                     std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    const OptionSpec* option = nullptr;
    for (const OptionSpec& candidate : options)
      if (arg == candidate.name) option = &candidate;
    if (!option) {
      *error = "unknown option " + arg;
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!option->set(value)) {
      *error = "bad value for " + arg + ": '" + value + "'";
      return false;
    }
  }
  return true;
}

}  // namespace host
