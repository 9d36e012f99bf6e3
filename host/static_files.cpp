#include "host/static_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/cp1250.h"

namespace host {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> RealPath(const std::string& path, int* error) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) {
    *error = errno;
    return std::nullopt;
  }
  return std::string(real.get());
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (cp1250::ToLower(static_cast<unsigned char>(a[i])) != cp1250::ToLower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The entry of `dir` whose name equals `name` ignoring case; the smallest
// such name when there are several, so the answer does not depend on the
// order of the directory.
std::optional<std::string> EntryIgnoringCase(const std::string& dir, const std::string& name) {
  struct CloseDir {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> d(::opendir(dir.c_str()));
  if (!d) return std::nullopt;
  std::optional<std::string> best;
  while (dirent* e = ::readdir(d.get())) {
    std::string_view entry = e->d_name;
    if (EqualsIgnoringCase(entry, name) && (!best || entry < *best)) best = std::string(entry);
  }
  return best;
}

}  // namespace

std::optional<std::string> DecodeUrlPath(std::string_view raw) {
  if (raw.empty() || raw.front() != '/') return std::nullopt;
  std::string decoded;
  decoded.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      if (i + 2 >= raw.size()) return std::nullopt;
      int hi = HexValue(raw[i + 1]), lo = HexValue(raw[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      c = char(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    decoded += c;
  }
  std::string path;
  std::size_t pos = 0;
  while (pos <= decoded.size()) {
    std::size_t end = decoded.find('/', pos);
    if (end == std::string::npos) end = decoded.size();
    std::string_view segment(decoded.data() + pos, end - pos);
    if (segment == "." || segment == "..") return std::nullopt;
    if (!segment.empty()) {
      path += '/';
      path += segment;
    }
    pos = end + 1;
  }
  if (path.empty()) return std::string(1, '/');
  return path;
}

std::string ContentTypeFor(std::string_view fileName) {
  std::size_t slash = fileName.find_last_of('/');
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  std::size_t dot = fileName.find_last_of('.');
  std::string_view ext = dot == std::string_view::npos ? std::string_view() : fileName.substr(dot + 1);
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {
      {"htm", "text/html; charset=windows-1250"},
      {"html", "text/html; charset=windows-1250"},
      {"js", "application/javascript; charset=windows-1250"},
      {"css", "text/css; charset=windows-1250"},
      {"txt", "text/plain; charset=windows-1250"},
      {"xml", "text/xml; charset=windows-1250"},
      {"gif", "image/gif"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"png", "image/png"},
      {"bmp", "image/bmp"},
      {"ico", "image/x-icon"},
      {"pdf", "application/pdf"},
      {"zip", "application/zip"},
  };
  for (const auto& t : kTypes)
    if (EqualsIgnoringCase(ext, t.ext)) return t.type;
  return "application/octet-stream";
}

StaticFiles::StaticFiles(const std::string& root) {
  int error = 0;
  std::optional<std::string> real = RealPath(root, &error);
  struct stat st;
  if (real && ::stat(real->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) m_root = *real == "/" ? "" : *real;
  // The file-system root as installation directory would make every file
  // servable: it stays invalid.
}

std::string StaticFiles::PhysicalPathFor(const std::string& decodedUrl) const {
  return decodedUrl == "/" ? m_root : m_root + decodedUrl;
}

bool StaticFiles::Contains(const std::string& resolved) const {
  if (resolved == m_root) return true;
  if (resolved.size() <= m_root.size() + 1 || resolved.compare(0, m_root.size(), m_root) != 0 ||
      resolved[m_root.size()] != '/')
    return false;
  // No hidden names below the root (".git", editor leftovers, lock files).
  return resolved.find("/.", m_root.size()) == std::string::npos;
}

std::optional<std::string> StaticFiles::FindIgnoringCase(const std::string& physicalPath) const {
  if (physicalPath.compare(0, m_root.size() + 1, m_root + "/") != 0) return std::nullopt;
  std::string path = m_root;
  std::size_t pos = m_root.size() + 1;
  while (pos <= physicalPath.size()) {
    std::size_t end = physicalPath.find('/', pos);
    if (end == std::string::npos) end = physicalPath.size();
    std::string name = physicalPath.substr(pos, end - pos);
    pos = end + 1;
    if (name.empty()) continue;
    struct stat st;
    if (::lstat((path + "/" + name).c_str(), &st) != 0) {
      std::optional<std::string> entry = EntryIgnoringCase(path, name);
      if (!entry) return std::nullopt;
      name = *entry;
    }
    path += "/" + name;
  }
  return path;
}

StaticFiles::Found StaticFiles::Resolve(const std::string& physicalPath) const {
  Found found;
  if (!Valid()) return found;
  std::string candidate = physicalPath;
  for (int step = 0; step < 2; ++step) {
    int error = 0;
    std::optional<std::string> real = RealPath(candidate, &error);
    if (!real && (error == ENOENT || error == ENOTDIR)) {
      if (std::optional<std::string> other = FindIgnoringCase(candidate)) real = RealPath(*other, &error);
    }
    if (!real) {
      found.status = error == EACCES ? 403 : 404;
      return found;
    }
    if (!Contains(*real)) return found;
    struct stat st;
    if (::stat(real->c_str(), &st) != 0) return found;
    if (S_ISDIR(st.st_mode)) {
      candidate = *real + "/default.htm";
      continue;
    }
    // Devices and pipes are never served: reading one could block a worker.
    if (!S_ISREG(st.st_mode)) return found;
    if (::access(real->c_str(), R_OK) != 0) {
      found.status = 403;
      return found;
    }
    found.status = 200;
    found.path = *real;
    found.size = st.st_size;
    found.modified = st.st_mtime;
    return found;
  }
  return found;
}

}  // namespace host
