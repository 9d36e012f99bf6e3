#include "platform/paths.h"

#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/windows_types.h"

std::string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  if (env && *env) {
    struct stat st;
    if (::stat(env, &st) == 0 && S_ISDIR(st.st_mode)) return env;
  }
  return "/tmp";
}

std::optional<std::string> CreateTempFile(const std::string& dir, const std::string& prefix) {
  return CreateUniqueFile(dir + "/" + prefix);
}

std::optional<std::string> CreateUniqueFile(const std::string& start) {
  std::string pattern = start + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return std::string(buf.data());
}

namespace {

std::optional<std::string> RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string result(real);
  std::free(real);
  return result;
}

}  // namespace

std::optional<std::string> CanonicalPathInside(const std::string& dir, const std::string& name) {
  std::optional<std::string> root = RealPath(dir);
  if (!root) return std::nullopt;
  std::optional<std::string> file = RealPath(dir + "/" + name);
  if (!file) return std::nullopt;
  const std::string& inside = *root == "/" ? std::string() : *root;
  if (file->size() <= inside.size() + 1 || file->compare(0, inside.size(), inside) != 0 ||
      (*file)[inside.size()] != '/') {
    errno = EACCES;
    return std::nullopt;
  }
  return file;
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

struct ModuleSearch {
  std::string name;
  std::optional<std::string> found;
};

int VisitModule(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  if (!info->dlpi_name || !*info->dlpi_name) return 0;
  std::string path = info->dlpi_name;
  auto slash = path.find_last_of('/');
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (file.rfind("lib" + search->name + ".so", 0) == 0 || file.rfind(search->name + ".so", 0) == 0) {
    char* real = ::realpath(path.c_str(), nullptr);
    search->found = DirectoryOf(real ? std::string(real) : path);
    std::free(real);
    return 1;
  }
  return 0;
}

}  // namespace

std::optional<std::string> LoadedModuleDirectory(const std::string& name) {
  ModuleSearch search{name, std::nullopt};
  dl_iterate_phdr(VisitModule, &search);
  return search.found;
}

GUID NewGuid() {
  GUID g{};
  unsigned char bytes[16];
  bool ok = false;
  if (FILE* f = std::fopen("/dev/urandom", "rb")) {
    ok = std::fread(bytes, 1, 16, f) == 16;
    std::fclose(f);
  }
  if (!ok)
    for (auto& b : bytes) b = static_cast<unsigned char>(std::rand());
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  g.Data1 = static_cast<std::uint32_t>(bytes[0]) | bytes[1] << 8 | bytes[2] << 16 |
            static_cast<std::uint32_t>(bytes[3]) << 24;
  g.Data2 = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
  g.Data3 = static_cast<std::uint16_t>(((bytes[6] | bytes[7] << 8) & 0x0FFF) | 0x4000);  // version 4
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}
