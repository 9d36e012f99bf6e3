#include "platform/cp1250.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Cp1250, UpperCasesPolishLetters) {
  // ą ć ę ł ń ó ś ź ż
  const unsigned char lower[] = {0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
  const unsigned char upper[] = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(cp1250::ToUpper(lower[i]), upper[i]) << i;
    EXPECT_EQ(cp1250::ToLower(upper[i]), lower[i]) << i;
    EXPECT_TRUE(cp1250::IsAlpha(lower[i]));
    EXPECT_TRUE(cp1250::IsAlpha(upper[i]));
  }
}

TEST(Cp1250, CaseMappingsAgreeWithEachOther) {
  for (int c = 0; c < 256; ++c) {
    unsigned char u = cp1250::ToUpper(static_cast<unsigned char>(c));
    unsigned char l = cp1250::ToLower(static_cast<unsigned char>(c));
    if (u != c) {
      EXPECT_EQ(cp1250::ToLower(u), c) << c;
      EXPECT_TRUE(cp1250::IsAlpha(static_cast<unsigned char>(c))) << c;
    }
    if (l != c) {
      EXPECT_EQ(cp1250::ToUpper(l), c) << c;
    }
    // A letter's classification does not change with its case.
    EXPECT_EQ(cp1250::IsAlpha(u), cp1250::IsAlpha(static_cast<unsigned char>(c))) << c;
  }
}

TEST(Cp1250, NonLettersStayAsTheyAre) {
  const unsigned char others[] = {'<', '>', '0', ' ', 0xD7, 0xF7, 0xA0, 0xFF};
  for (unsigned char c : others) {
    EXPECT_EQ(cp1250::ToUpper(c), c);
    EXPECT_FALSE(cp1250::IsAlpha(c)) << int(c);
  }
  EXPECT_FALSE(cp1250::IsAlnum('<'));
  EXPECT_TRUE(cp1250::IsAlnum('7'));
  EXPECT_TRUE(cp1250::IsDigit('0'));
  EXPECT_FALSE(cp1250::IsDigit(0xB9));
}

TEST(Cp1250, WhiteSpaceIsAsciiOnly) {
  EXPECT_TRUE(cp1250::IsSpace(' '));
  EXPECT_TRUE(cp1250::IsSpace('\t'));
  EXPECT_TRUE(cp1250::IsSpace('\r'));
  EXPECT_FALSE(cp1250::IsSpace(0xA0));
  EXPECT_FALSE(cp1250::IsSpace(0x85));
}

TEST(Cp1250, UpperCaseBuffer) {
  std::string s = "ustawa \xB3\xF3" "d\x9F";  // "ustawa łódź"
  cp1250::UpperCase(s.data(), s.size());
  EXPECT_EQ(s, "USTAWA \xA3\xD3" "D\x8F");
}

}  // namespace
