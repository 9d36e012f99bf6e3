#include "platform/cp1250.h"

namespace cp1250 {
namespace {

// Upper-case / lower-case pairs of windows-1250 outside ASCII:
// Š š, Ś ś, Ť ť, Ž ž, Ź ź, Ł ł, Ą ą, Ş ş, Ľ ľ, Ż ż, and 0xC0-0xDE / 0xE0-0xFE
// (except × 0xD7 and ÷ 0xF7, which are no letters).
constexpr unsigned char kPairs[][2] = {
    {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F},
    {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAA, 0xBA}, {0xBC, 0xBE}, {0xAF, 0xBF},
};

constexpr Tables Build() {
  Tables t{};
  for (int c = 0; c < 256; ++c) {
    t.upper[c] = static_cast<std::uint8_t>(c);
    t.lower[c] = static_cast<std::uint8_t>(c);
  }
  for (int c = 'a'; c <= 'z'; ++c) {
    t.upper[c] = static_cast<std::uint8_t>(c - 32);
    t.lower[c - 32] = static_cast<std::uint8_t>(c);
    t.alpha[c] = t.alpha[c - 32] = true;
  }
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c == 0xF7) continue;
    t.upper[c] = static_cast<std::uint8_t>(c - 32);
    t.lower[c - 32] = static_cast<std::uint8_t>(c);
    t.alpha[c] = t.alpha[c - 32] = true;
  }
  for (const auto& p : kPairs) {
    t.upper[p[1]] = p[0];
    t.lower[p[0]] = p[1];
    t.alpha[p[0]] = t.alpha[p[1]] = true;
  }
  // ß and µ are lower-case letters without an upper-case form in this code page.
  t.alpha[0xDF] = true;
  t.alpha[0xB5] = true;
  for (int c = '0'; c <= '9'; ++c) t.digit[c] = true;
  for (int c = 0x09; c <= 0x0D; ++c) t.space[c] = true;
  t.space[0x20] = true;
  return t;
}

}  // namespace

constinit const Tables kTables = Build();

void UpperCase(char* text, std::size_t n) {
  auto* p = reinterpret_cast<unsigned char*>(text);
  for (std::size_t i = 0; i < n; ++i) p[i] = kTables.upper[p[i]];
}

void UpperCase(char* text) {
  for (auto* p = reinterpret_cast<unsigned char*>(text); *p; ++p) *p = kTables.upper[*p];
}

}  // namespace cp1250
