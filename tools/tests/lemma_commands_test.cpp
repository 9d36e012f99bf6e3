// The base tool's word forms: query --forms --fold and lemmas, on a base
// built from a few documents whose words and lemmas were worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/tests/tool_runner.h"

namespace {

using tool_test::Result;

class LemmaCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vamulemmaXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    base = dir + "/acts.vq";
    std::filesystem::create_directory(dir + "/docs");
    // Literals are windows-1250 (the test is compiled so).
    Write("docs/D1.HTM", "<HTML>Zawarto umowę najmu.</HTML>");
    Write("docs/D2.HTM", "<HTML>Strony umowy.</HTML>");
    Write("docs/D3.HTM", "<HTML>Sąd w Łodzi, umownie.</HTML>");
    Write("docs/D4.HTM", "<HTML>lodz sad</HTML>");
    ASSERT_EQ(Run({"build", "-q", base, dir + "/docs"}).status, 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  Result Run(const std::vector<std::string>& args) { return tool_test::Run(VAMUBASE, args, dir); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir + "/" + name, std::ios::binary) << text; }

  std::string dir, base;
};

TEST_F(LemmaCommands, QueryWithFormsAndFolding) {
  EXPECT_EQ(Run({"query", "-q", base, "umowa"}).out, "");
  EXPECT_EQ(Run({"query", "-q", "--forms", base, "umowa"}).out, "0\tD1.HTM\n1\tD2.HTM\n");
  EXPECT_EQ(Run({"query", "-q", base, "~umowa", "I", "~najem"}).out, "0\tD1.HTM\n");
  EXPECT_EQ(Run({"query", "-q", "--fold", base, "sad"}).out, "2\tD3.HTM\n3\tD4.HTM\n");
  EXPECT_EQ(Run({"query", "-q", "--forms", "--fold", base, "lodz"}).out, "2\tD3.HTM\n3\tD4.HTM\n");
  EXPECT_EQ(Run({"query", "-q", "--fold", base, "lodz", "NIE", "sad"}).out, "");
  EXPECT_EQ(Run({"query", "--forms", base}).status, 2);
  EXPECT_EQ(Run({"query", "--formy", base, "x"}).status, 2);
}

TEST_F(LemmaCommands, LemmasListTheFormsTheBaseHolds) {
  Result r = Run({"lemmas", base, "umowy"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Forms in the word table's order; the dictionary also takes UMOWY for a lemma of its own.
  EXPECT_EQ(r.out, "UMOWA\tUMOWY UMOWĘ\nUMOWY\tUMOWY\n");
  EXPECT_EQ(Run({"lemmas", base, "ŁÓDŹ"}).out, "ŁÓDŹ\tŁODZI\n");
  // Folded: the lemmas of the words that read as the word (SĄD beside SAD).
  EXPECT_EQ(Run({"lemmas", "--fold", base, "sad"}).out, "SAD\tSAD\nSĄD\tSĄD\n");
  // A word the dictionary does not know.
  Result unknown = Run({"lemmas", base, "qwzrtx"});
  EXPECT_EQ(unknown.status, 0);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("does not know QWZRTX"), std::string::npos) << unknown.err;
  // Usage and missing things.
  EXPECT_EQ(Run({"lemmas", base}).status, 2);
  EXPECT_EQ(Run({"lemmas", base, "a", "b"}).status, 2);
  EXPECT_EQ(Run({"lemmas", base, std::string(100, 'a')}).status, 2);
  EXPECT_EQ(Run({"lemmas", dir + "/none.vq", "umowa"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir + "/none.vq"));
}

}  // namespace
