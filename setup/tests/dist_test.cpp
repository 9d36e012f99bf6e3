// The distribution directory the build assembles: setup runs from it and
// installs programs that find their libraries in the installation.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup/tests/setup_fixture.h"

namespace fs = std::filesystem;

namespace setup_test {
namespace {

class Distribution : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef SETUP_PARTIAL_BUILD
    GTEST_SKIP() << "a build of some folders only (VAMU_ONLY) has no whole distribution";
#endif
    tmp_ = MakeTempDir();
    root_ = tmp_ + "/root";
    fs::create_directories(root_ + "/etc/nginx");
  }
  void TearDown() override {
    std::error_code ec;
    if (!tmp_.empty()) fs::remove_all(tmp_, ec);
  }
  std::string tmp_, root_;
};

// What the default installation takes from the distribution: every library
// and program of the system. The build assembles the distribution with each
// of them, so an installation from it is complete.
const char* const kLibraries[] = {"libvamuplatform.so", "libkasten.so", "libconcorda.so", "libbiblion.so",
                                  "libportico.so"};
const char* const kPrograms[] = {"vamuserver", "vamufcgi", "vamubase"};

TEST_F(Distribution, InstallsWhatWasBuiltAndTheProgramsRunFromTheInstallation) {
  ASSERT_TRUE(fs::exists(SETUP_DIST_DIR "/setup")) << SETUP_DIST_DIR " was not assembled (target setup_dist)";
  EXPECT_TRUE(fs::exists(SETUP_DIST_DIR "/README.md")) << "setup's messages point to it";
  RunResult r = RunProgram(tmp_, SETUP_DIST_DIR "/setup", {"--root", root_, "--default", "--no-restart"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const char* lib : kLibraries) {
    const std::string from = std::string(SETUP_DIST_DIR "/lib/") + lib, to = root_ + "/opt/vamu/lib/" + lib;
    ASSERT_TRUE(fs::exists(from)) << from;
    EXPECT_EQ(Slurp(to), Slurp(from)) << to;
  }
  // The programs carry the installation's run path, not the build tree's:
  // they run from the installation.
  for (const char* program : kPrograms) {
    const std::string from = std::string(SETUP_DIST_DIR "/bin/") + program, to = root_ + "/opt/vamu/bin/" + program;
    ASSERT_TRUE(fs::exists(from)) << from;
    EXPECT_EQ(Slurp(to), Slurp(from)) << to;
    RunResult help = RunProgram(tmp_, to, {"--help"});
    EXPECT_EQ(help.status, 0) << program << ": " << help.err;
  }
  EXPECT_TRUE(fs::is_directory(root_ + "/var/cache/vamu")) << "the state directory";
}

}  // namespace
}  // namespace setup_test
