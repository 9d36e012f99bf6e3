// How many places of a posting are words: the count a word's topic takes
// from the positions file, against a plain decoder written here from the
// format (varints of 7 bits a byte, least significant first; the first
// ordinal, then the gaps). Canonical bytes as a writer makes them, bytes a
// writer never makes but that decode (numbers with zero high bytes), and
// damaged ones (a zero gap, a cut varint, one too long for 32 bits).
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

#include "concorda/positions_file.h"

using namespace concorda;

namespace {

void Put(std::vector<BYTE>& out, ULONGLONG v, int padding = 0) {
  while (v >= 0x80 || padding > 0) {
    out.push_back(static_cast<BYTE>((v & 0x7F) | 0x80));
    v >>= 7;
    if (v == 0) --padding;
  }
  out.push_back(static_cast<BYTE>(v));
}

// The count the format defines, or nothing when the ordinals up to the
// first one at or above `limit` do not decode.
std::optional<DWORD> PlainCount(const std::vector<BYTE>& bytes, DWORD limit) {
  std::size_t at = 0;
  ULONGLONG value = 0;
  DWORD count = 0;
  for (bool first = true; at < bytes.size(); first = false) {
    ULONGLONG delta = 0;
    int length = 0;
    for (;;) {
      if (at == bytes.size() || length == 5) return std::nullopt;
      const BYTE b = bytes[at++];
      delta |= static_cast<ULONGLONG>(b & 0x7F) << (7 * length++);
      if (!(b & 0x80)) break;
    }
    if (delta > 0xFFFFFFFFu || (!first && delta == 0)) return std::nullopt;
    value = first ? delta : value + delta;
    if (value > 0xFFFFFFFFu) return std::nullopt;
    if (value >= limit) break;
    ++count;
  }
  return count;
}

std::optional<DWORD> Counted(const std::vector<BYTE>& bytes, DWORD limit) {
  Posting p;
  p.ordinals = bytes.data();
  p.ordinalsEnd = bytes.data() + bytes.size();
  try {
    return CountOrdinalsBelow(p, limit);
  } catch (const CPositionsDamaged&) {
    return std::nullopt;
  }
}

}  // namespace

TEST(PostingDecoding, WordsAmongThePlacesOfAPostingAreCountedAsAPlainDecoderCountsThem) {
  std::mt19937 random(11);
  int sound = 0, damaged = 0, withMarkup = 0;
  for (int round = 0; round < 20000; ++round) {
    // Gaps of every length: one byte, two, up to five, and at the top of 32 bits.
    std::vector<ULONGLONG> ordinals;
    ULONGLONG value = random() % 4 == 0 ? 0 : random() % 300;
    const int n = 1 + static_cast<int>(random() % 12);
    for (int k = 0; k < n && value <= 0xFFFFFFFFu; ++k) {
      ordinals.push_back(value);
      const int bits = 1 + static_cast<int>(random() % (random() % 8 == 0 ? 32 : 14));
      value += 1 + (random() & ((1ull << bits) - 1));
    }
    std::vector<BYTE> bytes;
    for (std::size_t k = 0; k < ordinals.size(); ++k) {
      const ULONGLONG v = k == 0 ? ordinals[0] : ordinals[k] - ordinals[k - 1];
      Put(bytes, v, random() % 40 == 0 ? 1 : 0);  // now and then a zero high byte
    }
    switch (random() % 10) {
      case 0: bytes.push_back(0); break;  // a zero gap
      case 1: bytes.back() |= 0x80; break;  // the last varint cut
      case 2: bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x7F}); break;  // beyond 32 bits
      case 3: bytes.insert(bytes.end(), {0x80, 0x80, 0x80, 0x80, 0x80, 0x01}); break;  // six bytes
      default: break;
    }
    // The word count: above every ordinal, among them, or below them all.
    DWORD limit = 0;
    switch (random() % 3) {
      case 0: limit = 0xFFFFFFFFu; break;
      case 1: limit = static_cast<DWORD>(ordinals[random() % ordinals.size()]) + static_cast<DWORD>(random() % 2); break;
      default: limit = static_cast<DWORD>(ordinals.back() + 1 + random() % 100); break;
    }
    const std::optional<DWORD> expected = PlainCount(bytes, limit);
    ASSERT_EQ(Counted(bytes, limit), expected) << "round " << round << ", limit " << limit;
    expected ? ++sound : ++damaged;
    if (expected && *expected < ordinals.size()) ++withMarkup;
  }
  // Every kind came up.
  EXPECT_GT(sound, 5000);
  EXPECT_GT(damaged, 2000);
  EXPECT_GT(withMarkup, 2000);
}

TEST(PostingDecoding, CountsWorkedOutByHand) {
  // 5, 133 (gap 128 = 0x80 0x01), 134; words below 134.
  EXPECT_EQ(Counted({0x05, 0x80, 0x01, 0x01}, 134), 2u);
  EXPECT_EQ(Counted({0x05, 0x80, 0x01, 0x01}, 135), 3u);
  EXPECT_EQ(Counted({0x05, 0x80, 0x01, 0x01}, 5), 0u);
  // A first ordinal of 0 is a place; a later gap of 0 is damage.
  EXPECT_EQ(Counted({0x00, 0x02}, 10), 2u);
  EXPECT_EQ(Counted({0x00, 0x02, 0x00}, 10), std::nullopt);
  // 5 written with a zero high byte decodes as 5.
  EXPECT_EQ(Counted({0x85, 0x00, 0x01}, 10), 2u);
  // Damage behind the first markup piece is not read.
  EXPECT_EQ(Counted({0x05, 0x09, 0x00}, 10), 1u);
  // The largest place, and one beyond 32 bits.
  EXPECT_EQ(Counted({0xFE, 0xFF, 0xFF, 0xFF, 0x0F}, 0xFFFFFFFFu), 1u);
  EXPECT_EQ(Counted({0xFF, 0xFF, 0xFF, 0xFF, 0x10}, 0xFFFFFFFFu), std::nullopt);
  EXPECT_EQ(Counted({0x85}, 10), std::nullopt);
}
