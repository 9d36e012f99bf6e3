// The index commands of the base tool: build a base from a directory with
// keys, then query it by words and keys and list its word table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/tests/tool_runner.h"

namespace {

using tool_test::Result;

class IndexCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vamuindexXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    base = dir + "/acts.vq";
    docs = dir + "/docs";
    std::filesystem::create_directory(docs);
    // windows-1250: "S\xB9" is "Są", "\xA3" is "Ł".
    Write("docs/D1.HTM", "<HTML>Ustawa - Kodeks pracy</HTML>");
    Write("docs/D2.HTM", "<HTML>Kodeks karny, S\xB9" "d Najwy\xBF" "szy</HTML>");
    Write("docs/D3.HTM", "<HTML>Rozporz\xB9" "dzenie o kodeksie pracy; \xA3" "\xF3" "d\x9F</HTML>");
    Write("docs/.hidden", "ukryty");
    Write("keys.txt", "# keys of the acts\nD1.HTM\tDU/1974/24/141;KP\nD2.HTM\tDU/1997/88/553\n");
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  Result Run(const std::vector<std::string>& args) { return tool_test::Run(VAMUBASE, args, dir); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir + "/" + name, std::ios::binary) << text; }

  std::string dir, base, docs;
};

}  // namespace

TEST_F(IndexCommands, BuildThenQueryByWordsAndKeys) {
  Result build = Run({"build", "--keys", dir + "/keys.txt", base, docs});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.err, base + ": 3 documents indexed\n");  // no progress: not a terminal
  Result q = Run({"query", base, "kodeks"});
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out, "0\tD1.HTM\n1\tD2.HTM\n");
  EXPECT_EQ(q.err, "2 documents\n");
  EXPECT_EQ(Run({"query", "-q", base, "pracy", "NIE", "kodeks"}).out, "2\tD3.HTM\n");
  EXPECT_EQ(Run({"query", base, "s\xB9" "d"}).out, "1\tD2.HTM\n");
  EXPECT_EQ(Run({"query", base, "\"kodeks pracy\""}).out, "0\tD1.HTM\n");
  EXPECT_EQ(Run({"query", base, "*SIE"}).out, "2\tD3.HTM\n");
  Result none = Run({"query", base, "nieznane"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "0 documents\n");
  EXPECT_EQ(Run({"keys", base, "KP"}).out, "0\tD1.HTM\n");
  EXPECT_EQ(Run({"keys", "-q", base, "DU/1997/88/553", "KP"}).out, "0\tD1.HTM\n1\tD2.HTM\n");
  EXPECT_EQ(Run({"keys", "-q", base, "D3"}).out, "");
}

TEST_F(IndexCommands, WordsListsTheTableWithCounts) {
  ASSERT_EQ(Run({"build", "-q", base, docs}).status, 0);
  Result words = Run({"words", base});
  ASSERT_EQ(words.status, 0);
  EXPECT_NE(words.out.find("KODEKS\t2\t2\n"), std::string::npos) << words.out;
  EXPECT_NE(words.out.find("PRACY\t2\t2\n"), std::string::npos);
  EXPECT_NE(words.out.find("\xA3\xD3" "D\x8F\t1\t1\n"), std::string::npos);  // upper-cased windows-1250
  EXPECT_EQ(words.out.find("HTML"), std::string::npos);                       // markup is no word
  EXPECT_EQ(Run({"words", "--prefix", "KO", base}).out, "KODEKS\t2\t2\nKODEKSIE\t1\t1\n");
}

TEST_F(IndexCommands, NameKeysAndAppendingToABase) {
  ASSERT_EQ(Run({"build", "-q", "--name-keys", base, docs + "/D1.HTM"}).status, 0);
  Result more = Run({"build", "-q", "--name-keys", "--prefix", "DU", base, docs + "/D2.HTM", docs + "/D3.HTM"});
  ASSERT_EQ(more.status, 0) << more.err;
  // The first build wrote its system files into slots 1 to 3.
  EXPECT_EQ(Run({"keys", "-q", base, "D3"}).out, "5\tDU\\D3.HTM\n");
  EXPECT_EQ(Run({"query", "-q", base, "kodeks"}).out, "0\tD1.HTM\n4\tDU\\D2.HTM\n");
  EXPECT_EQ(Run({"verify", "-q", base}).status, 0);
}

TEST_F(IndexCommands, UsageErrorsAndMissingThings) {
  EXPECT_EQ(Run({"build", base}).status, 2);
  EXPECT_EQ(Run({"build", "--keys", "k", "--name-keys", base, docs}).status, 2);
  EXPECT_EQ(Run({"build", "--keys"}).status, 2);
  EXPECT_EQ(Run({"build", "--keys", dir + "/none.txt", base, docs}).status, 1);
  EXPECT_EQ(Run({"build", base, dir + "/nothing"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(base));  // nothing is created on a usage error
  EXPECT_EQ(Run({"query", base}).status, 2);
  EXPECT_EQ(Run({"query", base, "x"}).status, 1);  // no such base
  EXPECT_EQ(Run({"keys", base}).status, 2);
  EXPECT_EQ(Run({"words", "--prefix", base}).status, 2);
  EXPECT_EQ(Run({"words", base}).status, 1);
  Result help = Run({"help", "build"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--name-keys"), std::string::npos);
}

TEST_F(IndexCommands, PositionsFileBesideTheBaseAndProximity) {
  ASSERT_EQ(Run({"build", "-q", base, docs}).status, 0);
  // build writes the positions beside the base; phrases and BLISKO use them.
  ASSERT_TRUE(std::filesystem::exists(base + "p"));
  EXPECT_EQ(Run({"query", "-q", base, "\"kodeks pracy\""}).out, "0\tD1.HTM\n");
  EXPECT_EQ(Run({"query", "-q", base, "kodeks", "BLISKO/0", "pracy"}).out, "0\tD1.HTM\n");
  EXPECT_EQ(Run({"query", "-q", base, "kodeksie", "BLISKO/0", "rozporz\xB9" "dzenie"}).out, "");
  EXPECT_EQ(Run({"query", "-q", base, "kodeksie", "BLISKO/1", "rozporz\xB9" "dzenie"}).out, "2\tD3.HTM\n");
  // Made anew for a base that lost it; the answers stay.
  std::filesystem::remove(base + "p");
  EXPECT_EQ(Run({"query", "-q", base, "kodeks", "BLISKO/0", "pracy"}).out, "0\tD1.HTM\n");
  Result made = Run({"positions", base});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err.find(base + "p: word positions written ("), 0u) << made.err;
  EXPECT_TRUE(std::filesystem::exists(base + "p"));
  EXPECT_EQ(Run({"query", "-q", base, "\"kodeks pracy\""}).out, "0\tD1.HTM\n");
  EXPECT_EQ(Run({"positions", dir + "/none.vq"}).status, 1);
}

TEST_F(IndexCommands, QueryOverItsBudgetIsRefused) {
  ASSERT_EQ(Run({"build", "-q", base, docs}).status, 0);
  std::vector<std::string> args = {"query", base};
  for (int i = 0; i < 5000; ++i) args.push_back("kodeks");
  Result refused = Run(args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("query refused, it asks for too much work: more than 4096 tokens"), std::string::npos)
      << refused.err;
  args.resize(2 + 4096);
  Result answered = Run(args);
  EXPECT_EQ(answered.status, 0);
  EXPECT_EQ(answered.out, "0\tD1.HTM\n1\tD2.HTM\n");
}

TEST_F(IndexCommands, BuildWithAnyNumberOfJobsGivesTheSameBytes) {
  for (int i = 0; i < 40; ++i)
    Write("docs/M" + std::to_string(100 + i) + ".HTM",
          "<HTML>Ustawa " + std::to_string(i) + " o kodeksie pracy i s\xB9" "dzie, art. " + std::to_string(i % 9) +
              " <B>ust</B>awa</HTML>");
  // The same empty base (one GUID) for every run.
  ASSERT_EQ(Run({"create", base}).status, 0);
  std::vector<std::string> made;
  for (const char* jobs : {"1", "2", "4"}) {
    const std::string copy = dir + "/jobs" + jobs + ".vq";
    std::filesystem::copy_file(base, copy);
    Result r = Run({"build", "-q", "--jobs", jobs, "--keys", dir + "/keys.txt", copy, docs});
    ASSERT_EQ(r.status, 0) << r.err;
    auto bytes = [](const std::string& path) {
      std::ifstream in(path, std::ios::binary);
      return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    made.push_back(bytes(copy) + "|" + bytes(copy + "p"));
  }
  EXPECT_TRUE(made[0] == made[1]);
  EXPECT_TRUE(made[0] == made[2]);
  EXPECT_EQ(Run({"build", "--jobs", "0", base, docs}).status, 2);
  // add with jobs: the documents in the order given, in front of the index.
  Result add = Run({"add", "-v", "--jobs", "3", base, docs + "/M100.HTM", docs + "/D1.HTM", docs + "/M101.HTM"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.out, "0\tM100.HTM\n1\tD1.HTM\n2\tM101.HTM\n");
  EXPECT_EQ(Run({"query", "-q", base, "kodeksie", "BLISKO/0", "pracy"}).out, "0\tM100.HTM\n2\tM101.HTM\n");
}
