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
    if (!fs::exists(SETUP_DIST_DIR "/setup")) GTEST_SKIP() << "no " SETUP_DIST_DIR " (target setup_dist not built)";
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

TEST_F(Distribution, InstallsWhatWasBuiltAndTheProgramsRunFromTheInstallation) {
  RunResult r = RunProgram(tmp_, SETUP_DIST_DIR "/setup", {"--root", root_, "--default", "--no-restart"});
  // Complete only when every part of the system was built.
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.out << r.err;
  int installed = 0;
  for (const char* sub : {"lib", "bin"}) {
    std::string from = std::string(SETUP_DIST_DIR "/") + sub;
    if (!fs::exists(from)) continue;
    for (const auto& e : fs::directory_iterator(from)) {
      std::string to = root_ + "/opt/vamu/" + sub + "/" + e.path().filename().string();
      EXPECT_EQ(Slurp(to), Slurp(e.path())) << to;
      ++installed;
    }
  }
  EXPECT_GE(installed, 1) << "libvamuplatform.so at least";

  // The programs carry the installation's run path, not the build tree's.
  for (const char* program : {"vamubase", "vamuserver"}) {
    std::string path = root_ + "/opt/vamu/bin/" + program;
    if (!fs::exists(path)) continue;
    RunResult help = RunProgram(tmp_, path, {"--help"});
    EXPECT_EQ(help.status, 0) << program << ": " << help.err;
  }
}

}  // namespace
}  // namespace setup_test
