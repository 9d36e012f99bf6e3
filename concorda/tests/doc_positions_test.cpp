// Where the words of one document stand (CDocPositions), worked out by hand:
// the words as the index cuts them, the markup pieces behind them, the
// joins by single blanks, the split words; and the byte rules the phrase
// search relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "concorda/doc_positions.h"
#include "concorda/phrase_positions.h"
#include "concorda/query.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

using namespace concorda;

namespace {

std::map<std::string, std::vector<DWORD>> Ordinals(const CDocPositions& d) {
  std::map<std::string, std::vector<DWORD>> out;
  for (std::size_t i = 0; i < d.WordCount(); ++i)
    out[std::string(d.WordAt(i).text)].assign(d.WordAt(i).ordinals.begin(), d.WordAt(i).ordinals.end());
  return out;
}

std::vector<DWORD> Joined(const CDocPositions& d) {
  std::vector<DWORD> out;
  for (DWORD k = 0; k < d.TextTokens() + d.MarkupPieces(); ++k)
    if (d.IsJoined(k)) out.push_back(k);
  return out;
}

// The words of a text as the index tokenizer cuts them, in order.
std::vector<std::string> TokenizerWords(const std::string& text) {
  std::string upper = text;
  cp1250::UpperCase(upper.data(), upper.size());
  std::vector<std::string> words;
  CGrowBlock scratch;
  char* p = upper.data();
  DWORD left = static_cast<DWORD>(upper.size());
  char* word = nullptr;
  DWORD n = 0;
  while (char* next = NextWordIn(p, left, &word, &n, scratch)) {
    words.emplace_back(word, n);
    left -= static_cast<DWORD>(next - p);
    p = next;
  }
  return words;
}

using Map = std::map<std::string, std::vector<DWORD>>;
using V = std::vector<DWORD>;

}  // namespace

TEST(DocPositions, WordsThenMarkupPiecesWithJoinsAndSplits) {
  CDocPositions d;
  const std::string text = "Kodeks pracy, <B>UST</B>awa i@sąd <A NAME=\"x y\">koniec";
  d.Read(text.data(), text.size());
  // Words: KODEKS 0, PRACY 1, USTAWA 2 (a tag between its letters), I 3,
  // SĄD 4, KONIEC 5. Markup: B 6 (before USTAWA), B 7 (inside it), A 8,
  // NAME 9, X 10, Y 11.
  EXPECT_EQ(d.TextTokens(), 6u);
  EXPECT_EQ(d.MarkupPieces(), 6u);
  EXPECT_EQ(Ordinals(d), (Map{{"KODEKS", {0}},
                              {"PRACY", {1}},
                              {"USTAWA", {2}},
                              {"I", {3}},
                              {"SĄD", {4}},
                              {"KONIEC", {5}},
                              {"B", {6, 7}},
                              {"A", {8}},
                              {"NAME", {9}},
                              {"X", {10}},
                              {"Y", {11}}}));
  // Joined: KODEKS-PRACY, USTAWA-I, I-SĄD ('@'), A-NAME, X-Y.
  EXPECT_EQ(Joined(d), (V{0, 2, 3, 8, 10}));
  EXPECT_EQ(d.Split(), V{2});
  EXPECT_EQ(d.PieceCounts(), V{2});
  EXPECT_EQ(d.PieceLengths(), (V{3, 3}));  // UST, AWA
  EXPECT_EQ(d.WordAt(0).textCount, 1u);
  for (std::size_t i = 0; i < d.WordCount(); ++i) {
    if (d.WordAt(i).text == "B") {
      EXPECT_EQ(d.WordAt(i).textCount, 0u);
    }
  }
}

// What the positions file keeps of a document, coded by the thread that
// reads it: the bytes worked out by hand from the places above.
TEST(DocPositions, CodedAsThePositionsFileKeepsThem) {
  CDocPositions d;
  const std::string text = "Kodeks pracy, <B>UST</B>awa i@sąd <A NAME=\"x y\">koniec";
  d.Read(text.data(), text.size());
  EXPECT_FALSE(d.IsCoded());
  d.Code();
  ASSERT_TRUE(d.IsCoded());
  auto coded = [&](const std::string& word) {
    for (std::size_t i = 0; i < d.WordCount(); ++i)
      if (d.WordAt(i).text == word) {
        std::span<const BYTE> c = d.CodedOrdinals(d.WordAt(i));
        return std::vector<BYTE>(c.begin(), c.end());
      }
    return std::vector<BYTE>{0xEE};
  };
  EXPECT_EQ(coded("B"), (std::vector<BYTE>{6, 1}));  // 6, then 7 as a step of 1
  EXPECT_EQ(coded("KONIEC"), (std::vector<BYTE>{5}));
  // Words 6, markup pieces 6; joins 0, 2, 3 (0x0D) and 8, 10 (0x05); one
  // split word, at 2, of two pieces of 3 letters.
  std::span<const BYTE> record = d.Record();
  EXPECT_EQ(std::vector<BYTE>(record.begin(), record.end()), (std::vector<BYTE>{6, 6, 0x0D, 0x05, 1, 2, 2, 3, 3}));

  // Steps of 128 and more take two bytes; reading again drops the coding.
  std::string many;
  for (int k = 0; k < 130; ++k) many += "a ";
  many += "b";
  d.Read(many.data(), many.size());
  EXPECT_FALSE(d.IsCoded());
  d.Code();
  EXPECT_EQ(coded("B"), (std::vector<BYTE>{0x82, 0x01}));  // 130
  std::vector<BYTE> a(130, 1);
  a[0] = 0;
  EXPECT_EQ(coded("A"), a);
}

TEST(DocPositions, TrailingTagsEndAJoinAndAnUnclosedTagLeavesMarkup) {
  CDocPositions d;
  const std::string text = "<I>kodeks</I> pracy <B>sąd ok <br";
  d.Read(text.data(), text.size());
  // KODEKS 0 (its extent takes "</I>" along), PRACY 1, SĄD 2, OK 3; then
  // the markup I 4, I 5 (of "</I>"), B 6, BR 7 (behind the unclosed "<").
  EXPECT_EQ(Ordinals(d), (Map{{"KODEKS", {0}}, {"PRACY", {1}}, {"SĄD", {2}}, {"OK", {3}}, {"I", {4, 5}},
                              {"B", {6}}, {"BR", {7}}}));
  // KODEKS ends with a tag: no join to PRACY. PRACY is followed by " <B>".
  EXPECT_EQ(Joined(d), (V{2}));
  EXPECT_TRUE(d.Split().empty());
}

TEST(DocPositions, TheWordsAreTheIndexTokenizersWords) {
  const std::vector<std::string> texts = {
      "", "<P>", "a", "słowo", "UST<B>AWA</B> x", "dz<sup>1</sup> ", "x<", "<<a>>b", "a<b", "a <b>", "żółw Ż@Ł",
      "1997r. 5A, art.5 <A HREF=\"a b\">link</A>"};
  for (const std::string& text : texts) {
    CDocPositions d;
    d.Read(text.data(), text.size());
    // The words in the order of their ordinals.
    std::vector<std::string> words(d.TextTokens());
    for (std::size_t i = 0; i < d.WordCount(); ++i)
      for (std::size_t k = 0; k < d.WordAt(i).textCount; ++k) words[d.WordAt(i).ordinals[k]] = d.WordAt(i).text;
    EXPECT_EQ(words, TokenizerWords(text)) << text;
  }
}

TEST(PhraseBytes, UpperCaseKeepsWhatJoinsAndEndsWords) {
  // The positions are read from the upper-cased document: upper-casing must
  // not change which bytes are word bytes, tags or the blanks of a phrase.
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    const unsigned char u = cp1250::ToUpper(b);
    EXPECT_EQ(IsWordChar(b), IsWordChar(u)) << c;
    for (unsigned char special : {'<', '>', ' ', '@'}) EXPECT_EQ(b == special, u == special) << c;
  }
}

TEST(PhraseBytes, WholeWordPhrasesAreDecidedByPositionsOthersByTheScan) {
  std::vector<std::string> words;
  EXPECT_TRUE(PositionalPhraseWords("KODEKS PRACY", words));
  EXPECT_EQ(words, (std::vector<std::string>{"KODEKS", "PRACY"}));
  EXPECT_TRUE(PositionalPhraseWords("SĄD W", words));
  EXPECT_TRUE(PositionalPhraseWords("ART 5", words));  // a digit: its capital partner is undecided
  EXPECT_EQ(words, (std::vector<std::string>{"ART", "5"}));
  for (const char* scanOnly : {"", " KODEKS", "KODEKS ", "KODEKS  PRACY", "ART. 5", "A@B", "A\tB", "\"", "K*"})
    EXPECT_FALSE(PositionalPhraseWords(scanOnly, words)) << scanOnly;
  // Eleven digits make 2048 spellings: left to the scan.
  EXPECT_TRUE(PositionalPhraseWords("1234567890", words));
  EXPECT_FALSE(PositionalPhraseWords("12345678901", words));
}

TEST(PhraseBytes, EveryWordByteIsDecidedByPositionsWhenItsUpperCaseTellsItsMatches) {
  // The model, by brute force over all pairs of bytes: a phrase byte can be
  // decided from the upper-cased words when exactly one upper-case byte
  // stands for nothing but bytes it matches (itself and its partner) and
  // at most one other stands for some of them.
  int positional = 0;
  for (int p = 0; p < 256; ++p) {
    const auto pb = static_cast<BYTE>(p);
    if (!IsWordChar(pb)) continue;
    const BYTE partner = PhrasePartner(pb);
    bool usable = partner == pb || IsWordChar(partner);
    if (usable) {
      int decided = 0, undecided = 0;
      for (int u = 0; u < 256; ++u) {
        int sources = 0, matching = 0;
        for (int c = 0; c < 256; ++c) {
          const auto cb = static_cast<BYTE>(c);
          if (!IsWordChar(cb) || cp1250::ToUpper(cb) != u) continue;
          ++sources;
          if (cb == pb || cb == partner) ++matching;
        }
        if (matching) ++(matching == sources ? decided : undecided);
      }
      usable = decided == 1 && undecided <= 1;
    }
    std::vector<std::string> words;
    EXPECT_EQ(PositionalPhraseWords(std::string(1, static_cast<char>(pb)), words), usable) << "byte " << p;
    positional += usable;
  }
  // Letters of both cases, digits, and the two letters without a partner.
  EXPECT_GT(positional, 100);
  std::vector<std::string> words;
  EXPECT_TRUE(PositionalPhraseWords("STRA\xDF" "E", words));
  EXPECT_TRUE(PositionalPhraseWords("5 \xB5G", words));
}

// One object reads document after document (as every indexing thread does):
// long ones with many words, short ones, the same words again. Each word's
// places are ascending, every place belongs to exactly one word, the words
// counted as words are those below the word count, and the word at each
// word place is the tokenizer's; and what a reused object gives equals what
// a fresh one gives, coding included.
TEST(DocPositions, AReusedReaderGivesEveryDocumentItsOwnPlaces) {
  std::mt19937 random(20261210);
  const std::vector<std::string> vocabulary = {"ustawa", "z", "dnia", "art", "KODEKS", "pracy", "sąd", "żółw",
                                               "a", "i", "w", "paragraf", "1997", "x1"};
  const std::vector<std::string> between = {" ", "  ", ", ", "@", "<B>", "</B> ", "<A HREF=\"a b\">", "\n", ". "};
  auto document = [&](std::size_t words) {
    std::string text;
    for (std::size_t k = 0; k < words; ++k) {
      text += vocabulary[random() % vocabulary.size()];
      // Now and then a word of its own, so that long documents have many.
      if (random() % 7 == 0) text += std::to_string(random() % 5000) + "q";
      text += between[random() % between.size()];
    }
    return text;
  };
  CDocPositions reused;
  for (int round = 0; round < 60; ++round) {
    const std::size_t words = round % 3 == 0 ? 3000 + random() % 3000 : random() % 40;
    const std::string text = document(words);
    reused.Read(text.data(), text.size());
    reused.Code();
    CDocPositions fresh;
    fresh.Read(text.data(), text.size());
    fresh.Code();

    const DWORD places = fresh.TextTokens() + fresh.MarkupPieces();
    std::vector<int> owners(places, 0);
    std::vector<std::string> wordAt(fresh.TextTokens());
    for (std::size_t i = 0; i < fresh.WordCount(); ++i) {
      const CDocPositions::Word& w = fresh.WordAt(i);
      ASSERT_FALSE(w.ordinals.empty()) << w.text;
      DWORD asWords = 0;
      for (std::size_t k = 0; k < w.ordinals.size(); ++k) {
        ASSERT_LT(w.ordinals[k], places) << w.text;
        if (k) {
          ASSERT_LT(w.ordinals[k - 1], w.ordinals[k]) << w.text;
        }
        ++owners[w.ordinals[k]];
        if (w.ordinals[k] < fresh.TextTokens()) {
          ++asWords;
          wordAt[w.ordinals[k]] = w.text;
        }
      }
      EXPECT_EQ(w.textCount, asWords) << w.text;
    }
    EXPECT_EQ(std::count(owners.begin(), owners.end(), 1), static_cast<long>(places)) << "round " << round;

    EXPECT_EQ(wordAt, TokenizerWords(text)) << "round " << round;

    EXPECT_EQ(Ordinals(reused), Ordinals(fresh)) << "round " << round;
    EXPECT_EQ(reused.TextTokens(), fresh.TextTokens());
    EXPECT_EQ(reused.MarkupPieces(), fresh.MarkupPieces());
    for (std::size_t i = 0; i < fresh.WordCount(); ++i) {
      std::span<const BYTE> a = reused.CodedOrdinals(reused.WordAt(i)), b = fresh.CodedOrdinals(fresh.WordAt(i));
      EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << fresh.WordAt(i).text;
    }
    std::span<const BYTE> ra = reused.Record(), rb = fresh.Record();
    EXPECT_TRUE(std::equal(ra.begin(), ra.end(), rb.begin(), rb.end())) << "round " << round;
  }
}
