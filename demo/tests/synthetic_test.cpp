// The synthetic corpus: same documents for the same number, names that the
// readers of names accept, references that point at acts of the stream.
#include <gtest/gtest.h>

#include <set>

#include "demo/synthetic.h"
#include "demo/tests/name_rules.h"

using namespace vamucorpus;

namespace {

const SyntheticCorpus& Corpus() {
  static SyntheticCorpus corpus;
  return corpus;
}

TEST(Synthetic, SameDocumentForTheSameNumber) {
  ASSERT_TRUE(Corpus().Loaded());
  SyntheticCorpus other;
  for (std::size_t i : {0u, 5u, 6u, 7u, 12345u, 999999u}) {
    Document a = Corpus().Make(i), b = other.Make(i);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.data, b.data);
    EXPECT_EQ(a.keys, b.keys);
  }
}

TEST(Synthetic, NamesAreUniqueAndVersionsSortAfterTheFirstText) {
  std::set<std::string> names;
  for (std::size_t i = 0; i < 4000; ++i) {  // across a change of year (2000 acts, 3200 documents)
    Document d = Corpus().Make(i);
    ASSERT_TRUE(names.insert(d.name).second) << d.name;
    if (i % 8 == 5) {
      // The amended version follows the first text in name order too, so a
      // base built from a directory keeps the newest version last.
      Document first = Corpus().Make(i - 5);
      EXPECT_EQ(first.name.substr(0, 6), d.name.substr(0, 6));
      EXPECT_LT(first.name, d.name);
    }
  }
}

TEST(Synthetic, TitlesCiteTheActOfTheName) {
  for (std::size_t i = 0; i < 400; ++i) {
    Document d = Corpus().Make(i);
    if (std::string(SyntheticCorpus::BaseOf(i)) == "rulings") continue;
    nametest::Ref first, second;
    nametest::ParseName(d.name, first, second);
    ActRef act = SyntheticCorpus::ActOf(i / 8 * 5 + (i % 8 < 5 ? i % 8 : 0));
    EXPECT_EQ(first.year, act.year);
    EXPECT_EQ(first.position, act.position);
    EXPECT_NE(d.data.find("<TITLE>" + act.Citation() + " - "), std::string::npos) << d.name;
  }
}

TEST(Synthetic, RulingsReferToActsOfTheStreamThatHaveTheArticles) {
  std::set<std::string> prefixes;
  for (std::size_t i = 0; i < 800; ++i)
    if (std::string(SyntheticCorpus::BaseOf(i)) == "acts") {
      std::string n = Corpus().Make(i).name;
      prefixes.insert(nametest::ActPrefix(n.substr(0, n.size() - 4)));
    }
  for (std::size_t i = 6; i < 800; i += 8) {
    Document r = Corpus().Make(i);
    ASSERT_EQ(r.name.substr(0, 1), "O");
    auto b = r.data.find("<META KEYS=\"") + 12;
    std::string refs = r.data.substr(b, r.data.find('"', b) - b);
    std::size_t lines = 0;
    for (std::size_t at = 0, next; (next = refs.find("\r\n", at)) != std::string::npos; at = next + 2, ++lines) {
      std::string line = refs.substr(at, next - at);
      std::string prefix = line.substr(0, line.find(' '));
      EXPECT_TRUE(prefixes.count(prefix)) << line;
      EXPECT_NE(r.keys.find(prefix + "OO"), std::string::npos) << line;
      std::string place = line.substr(line.find(' ') + 1);
      if (place.rfind("ART.", 0) == 0) {
        // The article is in the act: find the act's document and its heading.
        std::size_t number = std::stoul(place.substr(4));
        for (std::size_t j = i / 8 * 8 - 8; j < i / 8 * 8 + 8; ++j) {
          if (j > 100000) continue;
          Document a = Corpus().Make(j);
          if (a.name == prefix + prefix + ".HTM") {
            EXPECT_NE(a.data.find("<P>Art. " + std::to_string(number) + ". "), std::string::npos) << line;
          }
        }
      }
    }
    EXPECT_GE(lines, 6u);  // three acts at least, each with "O" and one place
  }
}

TEST(Synthetic, EmptyCorpusMakesNothing) {
  SyntheticCorpus none(::testing::TempDir() + "/no-such-corpus");
  EXPECT_FALSE(none.Loaded());
  EXPECT_TRUE(none.Make(3).name.empty());
}

}  // namespace
