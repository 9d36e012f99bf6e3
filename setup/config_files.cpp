#include "setup/config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace {

constexpr std::size_t kMaxTemplateBytes = 1 << 20;

// The whole file, or nothing when it cannot be read or is too large.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || data.size() + static_cast<std::size_t>(n) > limit) {
      ::close(fd);
      if (n == 0) return data;
      if (n > 0) errno = EFBIG;
      return std::nullopt;
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
}

bool WriteWhole(const std::string& path, const std::string& data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  bool ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

// What is at the target now, as far as replacing it goes.
enum class TargetState { Missing, Ours, Foreign };

TargetState StateOf(const std::string& path, std::string* current) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? TargetState::Missing : TargetState::Foreign;
  if (!S_ISREG(st.st_mode)) return TargetState::Foreign;
  auto data = ReadSmallFile(path, kMaxTemplateBytes + sizeof kSetupMark);
  if (!data || data->compare(0, sizeof kSetupMark - 1, kSetupMark) != 0) return TargetState::Foreign;
  *current = std::move(*data);
  return TargetState::Ours;
}

enum class LinkState { Missing, Ours, Foreign };

LinkState StateOfLink(const std::string& link, const std::string& target) {
  struct stat st;
  if (::lstat(link.c_str(), &st) != 0) return errno == ENOENT ? LinkState::Missing : LinkState::Foreign;
  if (!S_ISLNK(st.st_mode)) return LinkState::Foreign;
  std::vector<char> buf(4096);
  ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return LinkState::Foreign;
  return std::string(buf.data(), static_cast<std::size_t>(n)) == target ? LinkState::Ours : LinkState::Foreign;
}

bool InstallOne(const CInfFile& inf, const std::string& configSection, const InstallTarget& target,
                const Report& report) {
  auto fail = [&](const std::string& why) {
    report("[" + configSection + "]: " + why);
    return false;
  };
  if (!inf.HasSection(configSection)) return fail("no such section in the information file");
  auto templ = inf.Fields(configSection, "Template");
  auto dest = inf.Fields(configSection, "Target");
  if (!templ || templ->empty() || !IsPlainRelativePath(templ->front())) return fail("no Template file name");
  if (!dest || dest->empty() || !PathBelowRoot(dest->front(), target.root))
    return fail("no Target below the installation root " + target.root);
  const std::string& targetPath = dest->front();
  std::vector<std::string> links;
  for (const std::string& link : inf.AllFields(configSection, "Link")) {
    if (!PathBelowRoot(link, target.root)) return fail("link " + link + " is not below the installation root");
    links.push_back(link);
  }

  std::string sourceDir = target.sourceDir;
  if (auto sub = inf.Fields("SourceDirs", configSection); sub && !sub->empty() && !sub->front().empty())
    sourceDir += "/" + sub->front();
  std::string templatePath = sourceDir + "/" + templ->front();
  auto text = ReadSmallFile(templatePath, kMaxTemplateBytes);
  if (!text) return fail("cannot read " + templatePath + ": " + std::strerror(errno));
  std::string content = kSetupMark + inf.Substitute(*text);

  // Everything is checked before anything is written, so a refused section
  // changes nothing.
  std::string current;
  TargetState state = StateOf(targetPath, &current);
  if (state == TargetState::Foreign) return fail(targetPath + " was not written by setup; left as it is");
  for (const std::string& link : links)
    if (StateOfLink(link, targetPath) == LinkState::Foreign)
      return fail(link + " is not a link to " + targetPath + "; left as it is");

  if (state == TargetState::Missing || current != content) {
    std::string why;
    if (!ReplaceFile(targetPath, [&](const std::string& path) { return WriteWhole(path, content); }, 0644, nullptr,
                     &why))
      return fail(why);
  }
  for (const std::string& link : links) {
    if (StateOfLink(link, targetPath) == LinkState::Ours) continue;
    std::string why;
    if (!MakeDirectories(DirectoryOf(link), &why)) return fail(why);
    if (::symlink(targetPath.c_str(), link.c_str()) != 0)
      return fail("cannot link " + link + ": " + std::strerror(errno));
  }
  return true;
}

}  // namespace

bool InstallConfigFiles(const CInfFile& inf, std::string_view section, const InstallTarget& target,
                        const Report& report) {
  bool ok = true;
  for (const std::string& configSection : inf.AllFields(section, "ConfigFiles"))
    if (!configSection.empty()) ok &= InstallOne(inf, configSection, target, report);
  return ok;
}
