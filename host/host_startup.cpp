#include "host/host_startup.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/access_log.h"
#include "host/error_log.h"
#include "host/extension_module.h"
#include "host/static_files.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace host {

std::string DefaultExtensionPath() {
  std::vector<char> self(4096);
  ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  std::string dir = n > 0 ? DirectoryOf(std::string(self.data(), std::size_t(n))) : ".";
  return dir + "/../lib/libportico.so";
}

void KeepFreedMemory() {
  // Blocks up to 32 MB (the most the allocator allows) come from its heaps,
  // not from mappings of their own that go back when freed; and free memory
  // at the top of a heap goes back only beyond 1 GB.
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

std::optional<std::string> InstallationDirectory(std::string* registryPath, std::string* error) {
  if (registryPath->empty()) *registryPath = CRegistry::DefaultPath();
  CRegistry::UseForThisProcess(*registryPath);
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

std::unique_ptr<StaticFiles> OpenSite(std::string* registryPath, const std::string& logDestination, AccessLog& log,
                                      std::string* error) {
  std::optional<std::string> dir = InstallationDirectory(registryPath, error);
  if (!dir) return nullptr;
  auto files = std::make_unique<StaticFiles>(*dir);
  if (!files->Valid()) {
    *error = "the installation directory " + *dir + " is not a directory";
    return nullptr;
  }
  if (!log.Open(logDestination)) {
    *error = "cannot open the access log " + logDestination;
    return nullptr;
  }
  return files;
}

bool LoadExtension(std::string* extensionPath, ExtensionModule& module, std::string* error) {
  if (extensionPath->empty()) *extensionPath = DefaultExtensionPath();
  return module.Load(*extensionPath, error);
}

int FinishServing(ExtensionModule& module, bool drained) {
  if (!drained) {
    LogError("requests still running after the shutdown timeout; ending without unloading the extension");
    module.Terminate(HSE_TERM_MUST_UNLOAD);
    std::fflush(nullptr);
    std::_Exit(kStartFailure);
  }
  module.Terminate(HSE_TERM_MUST_UNLOAD);
  module.Unload();
  return 0;
}

}  // namespace host
