#include "platform/cp1250.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <locale.h>

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

// One byte through the C library's converter; empty when it has no counterpart.
std::string Convert(const char* to, const char* from, unsigned char byte) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "iconv_open failed";
  char in[1] = {static_cast<char>(byte)};
  char out[16];
  char* ip = in;
  char* op = out;
  std::size_t il = 1, ol = sizeof out;
  std::size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1) || il != 0) return {};
  return std::string(out, static_cast<std::size_t>(op - out));
}

TEST(Cp1250Fold, PolishLettersLoseTheirMarks) {
  // ą ć ę ł ń ó ś ź ż and their capitals, as the readers type them without marks.
  const std::string marked = "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF";
  const std::string plain = "acelnoszzACELNOSZZ";
  std::string folded = marked;
  cp1250::FoldMarks(folded.data(), folded.size());
  EXPECT_EQ(folded, plain);
}

TEST(Cp1250Fold, EveryMarkedLetterFoldsAsTheTransliterationSays) {
  // The C library's transliteration to ASCII is the independent judge: a
  // letter it writes as one ASCII letter folds to that letter; ß (ss) and
  // µ (u, a different letter) stay; so does every byte that is no letter.
  // Transliteration needs a locale that knows the letters (this thread only).
  locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(utf8, locale_t{}) << "the C.UTF-8 locale is missing";
  locale_t before = uselocale(utf8);
  int folded = 0;
  for (int c = 0x80; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    std::string ascii = Convert("ASCII//TRANSLIT", "CP1250", b);
    if (!cp1250::IsAlpha(b) || b == 0xDF || b == 0xB5) {
      EXPECT_EQ(cp1250::FoldMarks(b), b) << c;
      continue;
    }
    ASSERT_EQ(ascii.size(), 1u) << c << " transliterates to '" << ascii << "'";
    EXPECT_EQ(cp1250::FoldMarks(b), static_cast<unsigned char>(ascii[0])) << c;
    ++folded;
  }
  uselocale(before);
  freelocale(utf8);
  EXPECT_EQ(folded, 80);  // 20 below 0xC0, 30 capitals and 30 small letters above
  for (int c = 0; c < 0x80; ++c) EXPECT_EQ(cp1250::FoldMarks(static_cast<unsigned char>(c)), c);
}

TEST(Cp1250Iso, LettersAndDigitsConvertAsTheConverterSays) {
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    std::string iso = Convert("ISO-8859-2", "CP1250", b);
    if (cp1250::IsAlnum(b) && iso.size() == 1) {
      EXPECT_EQ(cp1250::kToIso88592[b], static_cast<unsigned char>(iso[0])) << c;
      EXPECT_EQ(cp1250::kFromIso88592[static_cast<unsigned char>(iso[0])], b) << c;
    } else {
      EXPECT_EQ(cp1250::kToIso88592[b], 0) << c;  // µ has no place; the rest are no letters
    }
  }
  EXPECT_EQ(cp1250::kToIso88592[0xB5], 0);
  // Every byte the way back converts is a letter or digit of windows-1250.
  for (int c = 0; c < 256; ++c) {
    unsigned char back = cp1250::kFromIso88592[c];
    if (back) {
      EXPECT_TRUE(cp1250::IsAlnum(back)) << c;
    }
  }
}

}  // namespace
