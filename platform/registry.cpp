#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/cp1250.h"
#include "platform/paths.h"

namespace {

// A registry file larger than this is not read (it is not one of ours).
constexpr off_t kMaxRegistryBytes = 64 << 20;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Reads a quoted string at s[0] == '"'; returns the unescaped text and the rest.
std::optional<std::pair<std::string, std::string_view>> ReadQuoted(std::string_view s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (c == '"') {
      return std::make_pair(out, s.substr(i + 1));
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::optional<RegValue> ParseValueLine(std::string_view line) {
  RegValue v;
  std::string_view rest;
  if (line.front() == '@') {
    rest = line.substr(1);
  } else {
    auto name = ReadQuoted(line);
    if (!name) return std::nullopt;
    v.name = name->first;
    rest = name->second;
  }
  rest = Trim(rest);
  if (rest.empty() || rest.front() != '=') return std::nullopt;
  rest = Trim(rest.substr(1));
  if (!rest.empty() && rest.front() == '"') {
    auto text = ReadQuoted(rest);
    if (!text) return std::nullopt;
    v.type = RegValue::String;
    v.text = text->first;
    return v;
  }
  constexpr std::string_view kDword = "dword:";
  if (rest.size() > kDword.size() && RegNameEquals(rest.substr(0, kDword.size()), kDword)) {
    std::string hex(rest.substr(kDword.size()));
    if (hex.empty() || hex.size() > 8) return std::nullopt;
    char* end = nullptr;
    unsigned long n = std::strtoul(hex.c_str(), &end, 16);
    if (*end != '\0') return std::nullopt;
    v.type = RegValue::Dword;
    v.dword = static_cast<DWORD>(n);
    return v;
  }
  return std::nullopt;  // binary and other types are not used by the system
}

}  // namespace

bool RegNameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (cp1250::ToUpper(static_cast<unsigned char>(a[i])) != cp1250::ToUpper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string CRegistry::DefaultPath() {
  const char* env = std::getenv("VAMU_REGISTRY");
  return (env && *env) ? env : "/etc/vamu/registry.reg";
}

CRegistry CRegistry::Parse(std::string_view text) {
  CRegistry reg;
  Key* current = nullptr;
  bool skipping = false;  // inside a "[-key]" deletion block
  bool header = true;  // the "REGEDIT4" line is written by Serialize itself
  auto keep = [&](std::string_view raw) {
    std::string line(raw);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (current)
      current->kept.emplace_back(current->values.size(), std::move(line));
    else
      reg.m_preamble.push_back(std::move(line));
  };
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    std::string_view line = Trim(raw);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (line.empty()) continue;
    if (header && line == "REGEDIT4") {
      header = false;
      continue;
    }
    header = false;
    if (line.front() == '[' && line.back() != ']') {
      // A damaged key line: what follows belongs to no key; it is kept as it stands.
      skipping = true;
      keep(raw);
      continue;
    }
    if (line.front() == '[') {
      std::string_view path = line.substr(1, line.size() - 2);
      skipping = !path.empty() && path.front() == '-';
      // A deletion block is kept under its own "-path", which no lookup names.
      current = &reg.KeyFor(path);
      continue;
    }
    if (current && !skipping && line.front() != ';')
      if (auto v = ParseValueLine(line)) {
        reg.Set(current->path, std::move(*v));
        continue;
      }
    keep(raw);
  }
  return reg;
}

CRegistry CRegistry::Load(const std::string& path, bool* ok) {
  if (ok) *ok = true;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (ok && errno != ENOENT) *ok = false;
    return {};
  }
  std::string data;
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size > kMaxRegistryBytes) {
    ::close(fd);
    if (ok) *ok = false;
    return {};
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (ok) *ok = false;
      break;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (static_cast<off_t>(data.size()) > kMaxRegistryBytes) break;
  }
  ::close(fd);
  return Parse(data);
}

CRegistry::Key* CRegistry::FindKey(std::string_view key) {
  for (auto& k : m_keys)
    if (RegNameEquals(k.path, key)) return &k;
  return nullptr;
}

const CRegistry::Key* CRegistry::FindKey(std::string_view key) const {
  return const_cast<CRegistry*>(this)->FindKey(key);
}

CRegistry::Key& CRegistry::KeyFor(std::string_view key) {
  if (Key* k = FindKey(key)) return *k;
  m_keys.push_back(Key{std::string(key), {}});
  return m_keys.back();
}

bool CRegistry::HasKey(std::string_view key) const {
  for (const auto& k : m_keys) {
    if (k.path.size() < key.size()) continue;
    if (!RegNameEquals(std::string_view(k.path).substr(0, key.size()), key)) continue;
    if (k.path.size() == key.size() || k.path[key.size()] == '\\') return true;
  }
  return false;
}

std::vector<RegValue> CRegistry::Values(std::string_view key) const {
  const Key* k = FindKey(key);
  return k ? k->values : std::vector<RegValue>{};
}

std::size_t CRegistry::CountValues(std::string_view key) const {
  const Key* k = FindKey(key);
  return k ? k->values.size() : 0;
}

std::optional<RegValue> CRegistry::Value(std::string_view key, std::string_view name) const {
  if (const Key* k = FindKey(key))
    for (const auto& v : k->values)
      if (RegNameEquals(v.name, name)) return v;
  return std::nullopt;
}

void CRegistry::Set(std::string_view key, RegValue value) {
  Key& k = KeyFor(key);
  for (auto& v : k.values)
    if (RegNameEquals(v.name, value.name)) {
      v = std::move(value);
      return;
    }
  k.values.push_back(std::move(value));
}

void CRegistry::SetString(std::string_view key, std::string_view name, std::string_view text) {
  RegValue v;
  v.name = name;
  v.type = RegValue::String;
  v.text = text;
  Set(key, std::move(v));
}

void CRegistry::SetDword(std::string_view key, std::string_view name, DWORD value) {
  RegValue v;
  v.name = name;
  v.type = RegValue::Dword;
  v.dword = value;
  Set(key, std::move(v));
}

void CRegistry::CreateKey(std::string_view key) { KeyFor(key); }

std::string CRegistry::Serialize() const {
  std::string out = "REGEDIT4\r\n";
  for (const auto& line : m_preamble) out += line + "\r\n";
  for (const auto& k : m_keys) {
    out += "\r\n[" + k.path + "]\r\n";
    std::size_t kept = 0;
    auto writeKept = [&](std::size_t before) {
      for (; kept < k.kept.size() && k.kept[kept].first <= before; ++kept) out += k.kept[kept].second + "\r\n";
    };
    for (std::size_t i = 0; i < k.values.size(); ++i) {
      writeKept(i);
      const RegValue& v = k.values[i];
      out += v.name.empty() ? std::string("@") : Quote(v.name);
      out += '=';
      if (v.type == RegValue::Dword) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08x", v.dword);
        out += hex;
      } else {
        out += Quote(v.text);
      }
      out += "\r\n";
    }
    writeKept(static_cast<std::size_t>(-1));
  }
  return out;
}

namespace {

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool CRegistry::Update(const std::string& path, const std::function<void(CRegistry&)>& change) {
  std::string lockPath = path + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) return false;
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      int e = errno;
      ::close(lockFd);
      errno = e;
      return false;
    }
  }
  bool readOk = true;
  CRegistry reg = Load(path, &readOk);
  bool ok = false;
  int e = 0;
  if (readOk) {
    change(reg);
    std::string data = reg.Serialize();
    auto tmp = CreateTempFile(DirectoryOf(path), ".registry.");
    if (tmp) {
      int fd = ::open(tmp->c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      struct stat st;
      // Keep the permissions of the file being replaced.
      if (fd >= 0 && ::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
      else if (fd >= 0) ::fchmod(fd, 0644);
      ok = fd >= 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
      e = errno;
      if (fd >= 0) ::close(fd);
      if (ok && ::rename(tmp->c_str(), path.c_str()) != 0) {
        ok = false;
        e = errno;
      }
      if (!ok) ::unlink(tmp->c_str());
      if (ok) {
        int dirFd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
          ::fsync(dirFd);
          ::close(dirFd);
        }
      }
    } else {
      e = errno;
    }
  } else {
    e = errno ? errno : EIO;
  }
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  errno = e;
  return ok;
}
