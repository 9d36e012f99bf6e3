#include "host/host_startup.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"

namespace host {

std::string DefaultExtensionPath() {
  std::vector<char> self(4096);
  ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  std::string dir = n > 0 ? DirectoryOf(std::string(self.data(), std::size_t(n))) : ".";
  return dir + "/../lib/libportico.so";
}

std::optional<std::string> InstallationDirectory(std::string* registryPath, std::string* error) {
  if (registryPath->empty()) *registryPath = CRegistry::DefaultPath();
  ::setenv("VAMU_REGISTRY", registryPath->c_str(), 1);
  bool readable = true;
  CRegistry registry = CRegistry::Load(*registryPath, &readable);
  if (!readable) {
    *error = "cannot read the registry file " + *registryPath;
    return std::nullopt;
  }
  std::optional<RegValue> dir = registry.Value(kSetupKey, "Dir");
  if (!dir || dir->type != RegValue::String || dir->text.empty()) {
    *error = "the registry file " + *registryPath + " names no installation directory (value \"Dir\" of " + kSetupKey +
             ")";
    return std::nullopt;
  }
  return dir->text;
}

}  // namespace host
