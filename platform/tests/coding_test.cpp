// The byte encoding: words and the GUID against bytes written out by hand,
// varints against their LEB128 forms, and decoders that refuse cut-off or
// over-wide input.
#include "platform/coding.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Coding, WordsAreLittleEndian) {
  BYTE b[8] = {};
  EncodeLe32(b, 0x12345678);
  EXPECT_EQ(std::vector<BYTE>(b, b + 4), (std::vector<BYTE>{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(DecodeLe32(b), 0x12345678u);
  EncodeLe16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[1], 0xBE);
  EXPECT_EQ(DecodeLe16(b), 0xBEEF);
  EncodeLe64(b, 0x0102030405060708ull);
  EXPECT_EQ(std::vector<BYTE>(b, b + 8), (std::vector<BYTE>{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(DecodeLe64(b), 0x0102030405060708ull);
  const BYTE high[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(DecodeLe32(high), 0xFFFFFFFFu);  // no sign extension from a high byte
  std::vector<BYTE> out;
  AppendLe32(out, 40);
  AppendLe32(out, 0xFFFFFFFF);
  EXPECT_EQ(out, (std::vector<BYTE>{40, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Coding, GuidInItsStoredLayout) {
  const GUID g = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  BYTE b[kGuidBytes];
  EncodeGuid(b, g);
  const std::vector<BYTE> want = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::vector<BYTE>(b, b + kGuidBytes), want);
  EXPECT_TRUE(DecodeGuid(b) == g);
}

TEST(Coding, VarintsAreLeb128) {
  struct Case {
    ULONGLONG value;
    std::vector<BYTE> bytes;
  };
  const Case cases[] = {
      {0, {0x00}},
      {1, {0x01}},
      {127, {0x7F}},
      {128, {0x80, 0x01}},
      {300, {0xAC, 0x02}},
      {16383, {0xFF, 0x7F}},
      {16384, {0x80, 0x80, 0x01}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
      {0xFFFFFFFFFFFFFFFFull, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
  };
  for (const Case& c : cases) {
    std::vector<BYTE> out;
    AppendVarint64(out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    ULONGLONG back = 12345;
    const BYTE* end = out.data() + out.size();
    EXPECT_EQ(DecodeVarint64(out.data(), end, &back), end) << c.value;
    EXPECT_EQ(back, c.value);
    if (c.value <= 0xFFFFFFFF) {
      DWORD narrow = 7;
      EXPECT_EQ(DecodeVarint32(out.data(), end, &narrow), end) << c.value;
      EXPECT_EQ(narrow, c.value);
    }
  }
}

TEST(Coding, VarintDecodersRefuseDamage) {
  // Cut off: every byte says "more follows".
  const BYTE cut[] = {0x80, 0x80};
  ULONGLONG v = 99;
  EXPECT_EQ(DecodeVarint64(cut, cut + 2, &v), nullptr);
  EXPECT_EQ(v, 99u);
  EXPECT_EQ(DecodeVarint64(cut, cut, &v), nullptr);  // nothing at all
  // 2^32 does not fit a 32-bit value; the same bytes fit 64 bits.
  const BYTE wide[] = {0x80, 0x80, 0x80, 0x80, 0x10};
  DWORD w = 5;
  EXPECT_EQ(DecodeVarint32(wide, wide + 5, &w), nullptr);
  EXPECT_EQ(w, 5u);
  EXPECT_EQ(DecodeVarint64(wide, wide + 5, &v), wide + 5);
  EXPECT_EQ(v, 0x100000000ull);
  // Six bytes for a 32-bit value, eleven for a 64-bit one: too long.
  const BYTE longer[] = {0x81, 0x80, 0x80, 0x80, 0x80, 0x00};
  EXPECT_EQ(DecodeVarint32(longer, longer + 6, &w), nullptr);
  std::vector<BYTE> eleven(10, 0x80);
  eleven.push_back(0x00);
  EXPECT_EQ(DecodeVarint64(eleven.data(), eleven.data() + eleven.size(), &v), nullptr);
  // A 64-bit value whose tenth byte carries more than the top bit.
  std::vector<BYTE> over(9, 0xFF);
  over.push_back(0x02);
  EXPECT_EQ(DecodeVarint64(over.data(), over.data() + over.size(), &v), nullptr);
  // Two values back to back: the decoder stops behind the first.
  const BYTE two[] = {0xAC, 0x02, 0x05};
  const BYTE* next = DecodeVarint64(two, two + 3, &v);
  ASSERT_EQ(next, two + 2);
  EXPECT_EQ(v, 300u);
  EXPECT_EQ(DecodeVarint64(next, two + 3, &v), two + 3);
  EXPECT_EQ(v, 5u);
}

}  // namespace
