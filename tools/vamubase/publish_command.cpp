// vamubase publish: puts a new base in the place of a live one, the way a
// running server takes it up without a restart (it notices the new file
// within two seconds and serves it to new requests, while requests already
// running finish on the old one). The new base is checked first - as verify
// checks it, and opened with its index as the server opens it - then forced
// to disk and renamed over the live one in one step, so a reader sees either
// the old file or the new one whole, and a crash leaves one of them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "concorda/doc_server.h"
#include "concorda/positions_format.h"
#include "platform/paths.h"
#include "tools/vamubase/command.h"

namespace vamubase {

namespace {

// Forces a file (or a directory's entries) to disk; false with errno set.
bool SyncPath(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  int e = errno;
  ::close(fd);
  errno = e;
  return ok;
}

int Publish(std::vector<std::string>& args) {
  if (!NoOptionsLeft("publish", args)) return kUsage;
  if (args.size() != 2) return Usage("publish", "give the new base and the live base");
  const std::string& next = args[0];
  const std::string& live = args[1];

  struct stat nextInfo {}, liveInfo {};
  if (::stat(next.c_str(), &nextInfo) != 0) return Fail(next + ": " + std::strerror(errno));
  if (!S_ISREG(nextInfo.st_mode)) return Fail(next + " is not a file");
  const bool replacing = ::stat(live.c_str(), &liveInfo) == 0;
  if (replacing && liveInfo.st_dev == nextInfo.st_dev && liveInfo.st_ino == nextInfo.st_ino)
    return Fail(next + " is the live base itself");
  // rename() replaces in one step only within one file system.
  const std::string liveDirectory = DirectoryOf(live);
  struct stat dirInfo {};
  if (::stat(liveDirectory.c_str(), &dirInfo) != 0) return Fail(liveDirectory + ": " + std::strerror(errno));
  if (dirInfo.st_dev != nextInfo.st_dev)
    return Fail(next + " lies on another file system than " + live + "; copy it beside the live base first");

  // The check verify makes: every slot and item readable, names found.
  const Command* verify = FindCommand("verify");
  std::vector<std::string> verifyArgs{"--quiet", next};
  if (!verify || verify->run(verifyArgs) != kOk) return Fail(next + " is damaged; the live base stays");
  {
    // And the index loads as the server loads it.
    CDocServer base;
    if (!OpenBase(base, next, false)) return Fail(next + " cannot be opened as a base; the live base stays");
    base.Close();
  }

  // The word positions file goes with its base, and before it: a server that
  // opens the new base must find the file that belongs to it. The old base's
  // servers then find a file that is not theirs, see so by its stamp and read
  // the documents instead, with the same answers, until they take the new base up.
  const std::string nextPositions = concorda::PositionsPath(next), livePositions = concorda::PositionsPath(live);
  const bool positions = ::access(nextPositions.c_str(), F_OK) == 0;
  if (positions) {
    if (!SyncPath(nextPositions, O_RDONLY))
      return Fail("cannot force " + nextPositions + " to disk: " + std::strerror(errno));
    if (std::rename(nextPositions.c_str(), livePositions.c_str()) != 0)
      return Fail("cannot rename " + nextPositions + " to " + livePositions + ": " + std::strerror(errno));
  }
  if (!SyncPath(next, O_RDONLY)) return Fail("cannot force " + next + " to disk: " + std::strerror(errno));
  if (std::rename(next.c_str(), live.c_str()) != 0)
    return Fail("cannot rename " + next + " to " + live + ": " + std::strerror(errno));
  // A positions file of the old base describes a base no longer in service.
  if (!positions && std::remove(livePositions.c_str()) != 0 && errno != ENOENT)
    std::cerr << livePositions << ": cannot remove the old base's word positions: " << std::strerror(errno) << "\n";
  // The renames themselves last once the directory is on disk.
  if (!SyncPath(liveDirectory, O_RDONLY | O_DIRECTORY))
    return Fail("renamed, but cannot force " + liveDirectory + " to disk: " + std::strerror(errno));
  std::cerr << live << ": published " << (replacing ? "(the old base is gone once no server holds it)" : "") << "\n";
  return kOk;
}

}  // namespace

VAMUBASE_COMMAND(publish, "publish", "NEW LIVE",
                 "check NEW, force it to disk and rename it over LIVE (servers take it up within two seconds)",
                 "NEW must lie on the file system of LIVE (write it beside LIVE, e.g. LIVE.new). It is\n"
                 "checked as verify checks it and must open with its index; a damaged NEW leaves LIVE as\n"
                 "it is. Running servers serve NEW to new requests within two seconds; requests already\n"
                 "running finish on the old base, which is closed when the last of them ends.\n",
                 Publish);

}  // namespace vamubase
