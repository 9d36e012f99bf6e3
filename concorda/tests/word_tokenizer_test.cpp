// Word cutting and admission (compiled as windows-1250, like the stop words).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "concorda/word_tokenizer.h"

using namespace concorda;

namespace {

// All words of a text, as NextWordIn hands them out.
std::vector<std::string> Words(std::string text) {
  CGrowBlock scratch;
  std::vector<std::string> out;
  char* p = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  for (;;) {
    char* word = nullptr;
    DWORD n = 0;
    char* next = NextWordIn(p, left, &word, &n, scratch);
    if (!next) {
      EXPECT_EQ(word, nullptr);
      break;
    }
    EXPECT_NE(word, nullptr);
    out.emplace_back(word, n);
    left -= static_cast<DWORD>(next - p);
    p = next;
  }
  return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(NextWord, MarkupOnlyYieldsNothing) {
  EXPECT_EQ(Words("<P><BR>"), V{});
  EXPECT_EQ(Words(""), V{});
  EXPECT_EQ(Words(" ,.;- "), V{});
}

TEST(NextWord, TagsInsideAWordDoNotSplitIt) {
  EXPECT_EQ(Words("X<I>Y</I>Z"), V{"XYZ"});
  EXPECT_EQ(Words("UST<B>AWA</B>"), V{"USTAWA"});
  EXPECT_EQ(Words("DZ<SUP>1</SUP>"), V{"DZ1"});
}

TEST(NextWord, ReturnsThePositionJustAfterTheWord) {
  std::string text = "X<I>Y</I>Z REST";
  CGrowBlock scratch;
  char* word = nullptr;
  DWORD n = 0;
  char* next = NextWordIn(text.data(), static_cast<DWORD>(text.size()), &word, &n, scratch);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next - text.data(), 10);  // just after the Z
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(word, n), "XYZ");
}

TEST(NextWord, PlainWordsAreReturnedInPlace) {
  std::string text = "ALFA BETA";
  CGrowBlock scratch;
  char* word = nullptr;
  DWORD n = 0;
  NextWordIn(text.data(), static_cast<DWORD>(text.size()), &word, &n, scratch);
  EXPECT_EQ(word, text.data());
  EXPECT_EQ(n, 4u);
  EXPECT_FALSE(scratch.Exists());  // nothing was copied
}

TEST(NextWord, TrailingTagIsRemovedAndTheNextWordFollows) {
  EXPECT_EQ(Words("ABC</B> DEF"), (V{"ABC", "DEF"}));
  EXPECT_EQ(Words("<P>ALFA</P>\n<P>BETA</P>"), (V{"ALFA", "BETA"}));
  // Markup alone does not separate words: tags between two runs join them.
  EXPECT_EQ(Words("<P>ALFA</P><P>BETA</P>"), V{"ALFABETA"});
}

TEST(NextWord, TextEndingInsideATagAfterAWord) {
  EXPECT_EQ(Words("ABC<B"), V{"ABC"});
  EXPECT_EQ(Words("ABC <B"), V{"ABC"});
  EXPECT_EQ(Words("ABC <B>"), V{"ABC"});  // a tag that closes at the very end
}

TEST(NextWord, PolishLettersAndDigitsAreWordCharacters) {
  EXPECT_EQ(Words("ŻÓŁĆ, GĘŚLĄ-JAŹŃ 1997R."), (V{"ŻÓŁĆ", "GĘŚLĄ", "JAŹŃ", "1997R"}));
  EXPECT_EQ(Words("A&NBSP;B"), (V{"A", "NBSP", "B"}));
}

TEST(NextWord, LongWordsAreReturnedWhole) {
  std::string plain(500, 'A');
  EXPECT_EQ(Words(plain), V{plain});
  std::string tagged = std::string(250, 'B') + "<I>" + std::string(250, 'C') + "</I>";
  EXPECT_EQ(Words(tagged), V{std::string(250, 'B') + std::string(250, 'C')});
}

TEST(NextWord, LengthLimitsTheScan) {
  std::string text = "ALFA BETA";
  CGrowBlock scratch;
  char* word = nullptr;
  DWORD n = 0;
  EXPECT_NE(NextWordIn(text.data(), 3, &word, &n, scratch), nullptr);
  EXPECT_EQ(std::string(word, n), "ALF");
  EXPECT_EQ(NextWordIn(text.data() + 4, 0, &word, &n, scratch), nullptr);
}

TEST(Admission, NumbersAndMixedWords) {
  EXPECT_TRUE(IsAdmitted("2000"));
  EXPECT_TRUE(IsAdmitted("7"));
  EXPECT_TRUE(IsAdmitted("00012345678901234567890"));
  EXPECT_FALSE(IsAdmitted("2000R"));
  EXPECT_FALSE(IsAdmitted("1A"));
  EXPECT_TRUE(IsAdmitted("A1"));
}

TEST(Admission, SingleLettersAndStopWords) {
  EXPECT_FALSE(IsAdmitted("Z"));
  EXPECT_FALSE(IsAdmitted("Ą"));
  EXPECT_FALSE(IsAdmitted("ZA"));
  EXPECT_FALSE(IsAdmitted("ORAZ"));
  EXPECT_FALSE(IsAdmitted("NIE"));
  EXPECT_FALSE(IsAdmitted("LUB"));
  EXPECT_FALSE(IsAdmitted("BĄDŹ"));
  EXPECT_FALSE(IsAdmitted("KTÓRYCH"));
  EXPECT_TRUE(IsAdmitted("ZAŚ"));
  EXPECT_TRUE(IsAdmitted("NBSP"));
  EXPECT_TRUE(IsAdmitted("USTAWA"));
  EXPECT_TRUE(IsAdmitted("LUBLIN"));
}

TEST(Admission, EveryStopWordIsRefusedAndTheListIsWindows1250) {
  int n = 0;
  for (const char* const* s = kStopWords; *s; ++s, ++n) EXPECT_FALSE(IsAdmitted(*s)) << *s;
  EXPECT_EQ(n, kStopWordCount);
  // The Polish letters of the list are single windows-1250 bytes.
  EXPECT_STREQ(kStopWords[4], "BY\xC6");
  EXPECT_STREQ(kStopWords[5], "B\xA5" "D\x8F");
  EXPECT_STREQ(kStopWords[6], "B\xCA" "DZIE");
  EXPECT_STREQ(kStopWords[31], "JE\xAF" "ELI");
  EXPECT_STREQ(kStopWords[34], "KT\xD3RA");
}
