// Mapping request paths to the files of the installation directory, and
// never to anything outside it.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "host/static_files.h"
#include "platform/paths.h"

namespace host {
namespace {

namespace fs = std::filesystem;

TEST(DecodeUrlPath, DecodesAndNormalises) {
  EXPECT_EQ(DecodeUrlPath("/"), "/");
  EXPECT_EQ(DecodeUrlPath("/Home.htm"), "/Home.htm");
  EXPECT_EQ(DecodeUrlPath("/a%20b/c%2Ehtm"), "/a b/c.htm");
  EXPECT_EQ(DecodeUrlPath("//a///b/"), "/a/b");
  EXPECT_EQ(DecodeUrlPath("/%C5%81"), "/\xC5\x81");
  EXPECT_EQ(DecodeUrlPath("/a+b"), "/a+b") << "a plus is a plus in a path";
}

TEST(DecodeUrlPath, RefusesWhatCouldLeaveADirectory) {
  for (const char* bad : {"", "Home.htm", "/..", "/../x", "/a/../../x", "/%2e%2e/x", "/%2E%2e%2fx", "/a/..%2f..%2fx",
                          "/.", "/a/./b", "/a%00b", "/a%0", "/a%", "/a%zz", "/%%41"}) {
    EXPECT_FALSE(DecodeUrlPath(bad)) << bad;
  }
  EXPECT_FALSE(DecodeUrlPath(std::string_view("/a\0b", 4)));
  EXPECT_EQ(DecodeUrlPath("/..a/b..c"), "/..a/b..c") << "dots inside names are names";
}

TEST(ContentType, ByEndingIgnoringCase) {
  EXPECT_EQ(ContentTypeFor("/srv/site/default.htm"), "text/html; charset=windows-1250");
  EXPECT_EQ(ContentTypeFor("HOME.HTM"), "text/html; charset=windows-1250");
  EXPECT_EQ(ContentTypeFor("tree.js"), "application/javascript; charset=windows-1250");
  EXPECT_EQ(ContentTypeFor("gt.GIF"), "image/gif");
  EXPECT_EQ(ContentTypeFor("plan.jpg"), "image/jpeg");
  EXPECT_EQ(ContentTypeFor("a.jpeg"), "image/jpeg");
  EXPECT_EQ(ContentTypeFor("README"), "application/octet-stream");
  EXPECT_EQ(ContentTypeFor("dir.htm/file"), "application/octet-stream");
}

struct SiteFixture : ::testing::Test {
  fs::path base;
  fs::path site;

  void SetUp() override {
    std::optional<std::string> temp = CreateTempFile(TempDirectory());
    ASSERT_TRUE(temp);
    fs::remove(*temp);
    base = *temp;
    site = base / "site";
    fs::create_directories(site / "sub");
    Write(site / "default.htm", "root page");
    Write(site / "Home.htm", "home");
    Write(site / "sub" / "default.htm", "sub page");
    Write(site / ".secret", "hidden");
    Write(base / "outside.txt", "outside");
    fs::create_symlink("../outside.txt", site / "link-out");
    fs::create_symlink("Home.htm", site / "link-in");
    fs::create_symlink(base, site / "dir-out");
    ASSERT_EQ(::mkfifo((site / "fifo").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(base); }

  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  StaticFiles::Found Resolve(const StaticFiles& files, const std::string& url) {
    return files.Resolve(files.PhysicalPathFor(*DecodeUrlPath(url)));
  }
};

TEST_F(SiteFixture, DirectoriesServeTheirDefaultPage) {
  StaticFiles files(site.string());
  ASSERT_TRUE(files.Valid());
  StaticFiles::Found root = Resolve(files, "/");
  EXPECT_EQ(root.status, 200);
  EXPECT_EQ(root.path, fs::canonical(site / "default.htm").string());
  EXPECT_EQ(root.size, 9);
  EXPECT_GT(root.modified, 0);
  EXPECT_EQ(Resolve(files, "/sub/").path, fs::canonical(site / "sub" / "default.htm").string());
}

TEST_F(SiteFixture, NamesIgnoreCaseWhenTheExactOneIsMissing) {
  StaticFiles files(site.string());
  EXPECT_EQ(Resolve(files, "/HOME.HTM").path, fs::canonical(site / "Home.htm").string());
  EXPECT_EQ(Resolve(files, "/SUB/DEFAULT.htm").status, 200);
  EXPECT_EQ(Resolve(files, "/Nothere.htm").status, 404);
}

TEST_F(SiteFixture, NothingOutsideTheDirectory) {
  StaticFiles files(site.string());
  EXPECT_EQ(Resolve(files, "/link-out").status, 404) << "symlink leading out";
  EXPECT_EQ(Resolve(files, "/dir-out/outside.txt").status, 404) << "directory symlink leading out";
  EXPECT_EQ(Resolve(files, "/link-in").status, 200) << "symlink staying inside";
  EXPECT_EQ(Resolve(files, "/.secret").status, 404);
  EXPECT_EQ(Resolve(files, "/fifo").status, 404) << "only regular files";
  // A filter may hand back any path: it is checked all the same.
  EXPECT_EQ(files.Resolve((base / "outside.txt").string()).status, 404);
  EXPECT_EQ(files.Resolve((site / ".." / "outside.txt").string()).status, 404);
  EXPECT_EQ(files.Resolve("/etc/passwd").status, 404);
}

// Runs `check` as an unprivileged user: in a child process that drops to
// "nobody" when the tests run as root (who reads everything), as they do in
// CI. The child's exit status: 0 passed; kCannotDrop when the privileges
// could not be given up; anything else a failed check.
constexpr int kCannotDrop = 99;
int RunUnprivileged(const std::function<int()>& check) {
  if (::geteuid() != 0) return check();
  pid_t pid = ::fork();
  if (pid == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0)
      ::_exit(kCannotDrop);
    ::_exit(check());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(SiteFixture, UnreadableFileIsForbidden) {
  fs::permissions(site / "Home.htm", fs::perms::none);
  int result = RunUnprivileged([this] {
    StaticFiles files(site.string());
    if (!files.Valid()) return 1;                            // the site must be reachable as that user
    if (Resolve(files, "/default.htm").status != 200) return 2;  // a readable file is served
    return Resolve(files, "/Home.htm").status == 403 ? 0 : 3;
  });
  if (result == kCannotDrop) GTEST_SKIP() << "cannot become an unprivileged user here";
  EXPECT_EQ(result, 0) << "1: site unreachable, 2: readable file refused, 3: unreadable file not 403";
}

TEST_F(SiteFixture, RootMustBeADirectoryOtherThanTheFileSystemRoot) {
  EXPECT_FALSE(StaticFiles((site / "Home.htm").string()).Valid());
  EXPECT_FALSE(StaticFiles((base / "missing").string()).Valid());
  EXPECT_FALSE(StaticFiles("/").Valid());
  StaticFiles viaLink((site / "dir-out" / "site").string());
  EXPECT_EQ(viaLink.Root(), fs::canonical(site).string());
}

}  // namespace
}  // namespace host
