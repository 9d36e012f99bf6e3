#include "setup/system_checks.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <cstdlib>

bool IsSupportedSystem(std::string_view sysname, std::string_view release) {
  if (sysname != "Linux") return false;
  // "5.10.0-28-amd64": major and minor are the leading numbers.
  auto number = [&](std::size_t& i) -> long {
    if (i >= release.size() || release[i] < '0' || release[i] > '9') return -1;
    long n = 0;
    for (; i < release.size() && release[i] >= '0' && release[i] <= '9'; ++i)
      if ((n = n * 10 + (release[i] - '0')) > 1000000) return -1;
    return n;
  };
  std::size_t i = 0;
  long major = number(i);
  if (major < 0) return false;
  long minor = 0;
  if (i < release.size() && release[i] == '.') {
    ++i;
    minor = number(i);
    if (minor < 0) minor = 0;
  }
  return major > 3 || (major == 3 && minor >= 10);
}

bool RunningOnSupportedSystem() {
  struct utsname u;
  if (::uname(&u) != 0) return false;
  return IsSupportedSystem(u.sysname, u.release);
}

std::string BelowRoot(const std::string& root, const std::string& path) {
  return root == "/" ? path : root + path;
}

std::string NginxDirectory(const std::string& root) { return BelowRoot(root, "/etc/nginx"); }

bool WebServiceInstalled(const std::string& root) {
  struct stat st;
  return ::stat(NginxDirectory(root).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
