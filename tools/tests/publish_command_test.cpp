// vamubase publish: a sound new base takes the live one's place in one
// rename; a damaged or unopenable one, or a mistaken command, leaves the
// live base untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "tools/tests/tool_runner.h"

namespace {

using tool_test::Result;

class PublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vamutoolXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    live = dir + "/acts.vq";
    next = dir + "/acts.vq.new";
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  Result Run(const std::vector<std::string>& args) { return tool_test::Run(VAMUBASE, args, dir); }
  // A base with one document of this text.
  void MakeBase(const std::string& path, const std::string& text) {
    std::string doc = dir + "/DOC.HTM";
    std::ofstream(doc, std::ios::binary) << text;
    ASSERT_EQ(Run({"create", path}).status, 0);
    ASSERT_EQ(Run({"add", path, doc}).status, 0);
  }
  std::string Extract(const std::string& path) { return Run({"extract", path, "DOC.HTM"}).out; }

  std::string dir, live, next;
};

TEST_F(PublishTest, SoundBaseReplacesTheLiveOne) {
  MakeBase(live, "<HTML>stare</HTML>");
  MakeBase(next, "<HTML>nowe</HTML>");
  struct stat before {};
  ASSERT_EQ(::stat(next.c_str(), &before), 0);
  Result r = Run({"publish", next, live});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Extract(live), "<HTML>nowe</HTML>");
  struct stat after {};
  ASSERT_EQ(::stat(live.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "renamed, not copied: a reader sees one file or the other";
  EXPECT_NE(::access(next.c_str(), F_OK), 0);
}

// The word positions file beside a base goes with it: after publishing, the
// live base's file is the one written with the new base (same bytes), and a
// phrase query finds it current (a file of another base makes the tool say
// on stderr that it reads the documents instead).
TEST_F(PublishTest, WordPositionsGoWithTheBase) {
  MakeBase(live, "<HTML>stare prawo</HTML>");
  MakeBase(next, "<HTML>nowe prawo</HTML>");
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string written = read(next + "p");
  ASSERT_FALSE(written.empty()) << "the tool writes the positions file with the base";
  ASSERT_NE(written, read(live + "p"));
  Result r = Run({"publish", next, live});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(read(live + "p") == written) << "the live base's positions file is the new base's";
  EXPECT_NE(::access((next + "p").c_str(), F_OK), 0);
  Result q = Run({"query", live, "\"nowe prawo\""});
  EXPECT_EQ(q.status, 0) << q.err;
  EXPECT_NE(q.out.find("DOC.HTM"), std::string::npos) << q.out;
  EXPECT_EQ(q.err.find("read the documents instead"), std::string::npos) << q.err;

  // A new base published without a positions file: the old base's file does
  // not stay beside it.
  MakeBase(next, "<HTML>trzecie prawo</HTML>");
  ASSERT_EQ(std::remove((next + "p").c_str()), 0);
  ASSERT_EQ(Run({"publish", next, live}).status, 0);
  EXPECT_NE(::access((live + "p").c_str(), F_OK), 0);
}

TEST_F(PublishTest, FirstPublicationNeedsNoLiveBase) {
  MakeBase(next, "<HTML>pierwsze</HTML>");
  ASSERT_EQ(Run({"publish", next, live}).status, 0);
  EXPECT_EQ(Extract(live), "<HTML>pierwsze</HTML>");
}

TEST_F(PublishTest, DamagedOrForeignFileLeavesTheLiveBase) {
  MakeBase(live, "<HTML>stare</HTML>");
  std::ofstream(next, std::ios::binary) << "not a base at all";
  Result r = Run({"publish", next, live});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the live base stays"), std::string::npos) << r.err;
  EXPECT_EQ(Extract(live), "<HTML>stare</HTML>");
  EXPECT_EQ(::access(next.c_str(), F_OK), 0) << "the new file is left for inspection";

  // A base cut short, as a copy interrupted half-way leaves it.
  ASSERT_EQ(std::remove(next.c_str()), 0);
  MakeBase(next, "<HTML>" + std::string(20000, 'x') + "</HTML>");
  struct stat whole {};
  ASSERT_EQ(::stat(next.c_str(), &whole), 0);
  ASSERT_EQ(::truncate(next.c_str(), whole.st_size * 6 / 10), 0);
  Result cut = Run({"publish", next, live});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("the live base stays"), std::string::npos) << cut.err;
  EXPECT_EQ(Extract(live), "<HTML>stare</HTML>");
}

TEST_F(PublishTest, MistakesAreRefused) {
  MakeBase(live, "<HTML>stare</HTML>");
  EXPECT_EQ(Run({"publish", live}).status, 2);
  EXPECT_EQ(Run({"publish", "--force", next, live}).status, 2);
  Result missing = Run({"publish", next, live});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(next), std::string::npos);
  Result itself = Run({"publish", live, live});
  EXPECT_EQ(itself.status, 1);
  EXPECT_NE(itself.err.find("is the live base itself"), std::string::npos);
  EXPECT_EQ(Extract(live), "<HTML>stare</HTML>");
}

}  // namespace
