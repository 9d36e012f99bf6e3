#include "setup/file_queue.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"

namespace {

// The directory a copy section's files go to, or DefaultDestDir.
std::optional<std::string> DestinationDir(const CInfFile& inf, const std::string& copySection) {
  auto fields = inf.Fields("DestinationDirs", copySection);
  if (!fields) fields = inf.Fields("DestinationDirs", "DefaultDestDir");
  if (!fields || fields->empty() || fields->front().empty()) return std::nullopt;
  std::string dir = fields->front();
  // "dir, subdir" as in the second field of the installer's own syntax.
  if (fields->size() > 1 && !(*fields)[1].empty()) dir += "/" + (*fields)[1];
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string SourceDir(const CInfFile& inf, const std::string& copySection, const InstallTarget& target) {
  auto fields = inf.Fields("SourceDirs", copySection);
  if (!fields || fields->empty() || fields->front().empty()) return target.sourceDir;
  return target.sourceDir + "/" + fields->front();
}

bool Newer(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

bool CFileQueue::QueueSection(const CInfFile& inf, std::string_view section, const InstallTarget& target,
                              const Report& report) {
  if (!inf.HasSection(section)) {
    report("the information file has no section [" + std::string(section) + "]");
    return false;
  }
  bool ok = true;
  for (const std::string& entry : inf.AllFields(section, "CopyFiles")) {
    if (entry.empty()) continue;
    if (entry.front() == '@') {
      std::string name = entry.substr(1);
      auto dest = DestinationDir(inf, "DefaultDestDir");
      if (!dest) {
        report("no DefaultDestDir in [DestinationDirs] for " + entry);
        ok = false;
        continue;
      }
      ok &= QueueFile(target.sourceDir, name, *dest, name, target, report);
    } else {
      ok &= QueueCopySection(inf, entry, target, report);
    }
  }
  return ok;
}

bool CFileQueue::QueueCopySection(const CInfFile& inf, const std::string& copySection,
                                  const InstallTarget& target, const Report& report) {
  if (!inf.HasSection(copySection)) {
    report("the information file has no copy section [" + copySection + "]");
    return false;
  }
  auto dest = DestinationDir(inf, copySection);
  if (!dest) {
    report("no destination directory for [" + copySection + "] in [DestinationDirs]");
    return false;
  }
  std::string sourceDir = SourceDir(inf, copySection, target);
  bool ok = true;
  // The destination is made even for a section without files: an empty
  // section names a directory the installation needs (the state directory).
  if (PathBelowRoot(*dest, target.root)) {
    m_dirs.push_back(*dest);
  } else if (inf.Lines(copySection).empty()) {
    report(*dest + " is not below the installation root " + target.root);
    ok = false;
  }
  for (const InfLine& line : inf.Lines(copySection)) {
    std::vector<std::string> fields = inf.Substituted(line);
    // A line "name = ..." is not a file entry of a copy section.
    if (line.hasKey || fields.empty() || fields.front().empty()) {
      report("[" + copySection + "] line " + std::to_string(line.number) + " names no file");
      ok = false;
      continue;
    }
    const std::string& targetName = fields[0];
    const std::string& sourceName = fields.size() > 1 && !fields[1].empty() ? fields[1] : targetName;
    ok &= QueueFile(sourceDir, sourceName, *dest, targetName, target, report);
  }
  return ok;
}

bool CFileQueue::QueueFile(const std::string& sourceDir, const std::string& sourceName, const std::string& destDir,
                           const std::string& targetName, const InstallTarget& target, const Report& report) {
  if (!IsPlainRelativePath(sourceName) || !IsPlainRelativePath(targetName)) {
    report("file name " + targetName + " (" + sourceName + ") leaves its directory");
    return false;
  }
  std::string to = destDir + "/" + targetName;
  if (!PathBelowRoot(to, target.root)) {
    report(to + " is not below the installation root " + target.root);
    return false;
  }
  m_copies.push_back(QueuedCopy{sourceDir + "/" + sourceName, to});
  return true;
}

bool CFileQueue::Commit(const Report& report, CopyCounts* counts) {
  CopyCounts local;
  bool dirsMade = true;
  for (const std::string& dir : m_dirs) {
    std::string why;
    if (!MakeDirectories(dir, &why)) {
      report("cannot make the directory " + dir + ": " + why);
      dirsMade = false;
    }
  }
  for (const QueuedCopy& copy : m_copies) {
    struct stat from;
    if (::stat(copy.source.c_str(), &from) != 0) {
      report("cannot copy " + copy.source + ": " + std::strerror(errno));
      ++local.failed;
      continue;
    }
    if (!S_ISREG(from.st_mode)) {
      report("cannot copy " + copy.source + ": not a regular file");
      ++local.failed;
      continue;
    }
    struct stat to;
    if (::lstat(copy.target.c_str(), &to) == 0) {
      if (!S_ISREG(to.st_mode)) {
        report("cannot copy to " + copy.target + ": something else than a file is there");
        ++local.failed;
        continue;
      }
      if (!Newer(from.st_mtim, to.st_mtim)) {
        ++local.kept;
        continue;
      }
    }
    std::string why;
    bool copied = ReplaceFile(
        copy.target, [&](const std::string& path) { return CopyFileReplace(copy.source, path); },
        from.st_mode & 07777, &from.st_mtim, &why);
    if (copied) {
      ++local.copied;
    } else {
      report("cannot copy " + copy.source + ": " + why);
      ++local.failed;
    }
  }
  if (counts) *counts = local;
  return dirsMade && local.failed == 0;
}
