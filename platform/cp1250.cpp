#include "platform/cp1250.h"

#include <array>

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

namespace {

// Marked letters below 0xC0 and their plain letters.
constexpr unsigned char kFoldPairs[][2] = {
    {0x8A, 'S'}, {0x8C, 'S'}, {0x8D, 'T'}, {0x8E, 'Z'}, {0x8F, 'Z'},  // Š Ś Ť Ž Ź
    {0x9A, 's'}, {0x9C, 's'}, {0x9D, 't'}, {0x9E, 'z'}, {0x9F, 'z'},  // š ś ť ž ź
    {0xA3, 'L'}, {0xA5, 'A'}, {0xAA, 'S'}, {0xAF, 'Z'},               // Ł Ą Ş Ż
    {0xB3, 'l'}, {0xB9, 'a'}, {0xBA, 's'}, {0xBC, 'L'}, {0xBE, 'l'},  // ł ą ş Ľ ľ
    {0xBF, 'z'},                                                       // ż
};
// 0xC0-0xDE in order: Ŕ Á Â Ă Ä Ĺ Ć Ç Č É Ę Ë Ě Í Î Ď Đ Ń Ň Ó Ô Ő Ö × Ř Ů Ú Ű Ü Ý Ţ;
// the small letters 0xE0-0xFE follow the same order 0x20 higher. '*' marks
// the multiplication and division signs, which stay.
constexpr char kFoldHigh[] = "RAAAALCCCEEEEIIDDNNOOOO*RUUUUYT";

constexpr std::array<std::uint8_t, 256> BuildFold() {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(c);
  for (const auto& p : kFoldPairs) t[p[0]] = p[1];
  for (int i = 0; i < 31; ++i) {
    if (kFoldHigh[i] == '*') continue;
    t[0xC0 + i] = static_cast<std::uint8_t>(kFoldHigh[i]);
    t[0xE0 + i] = static_cast<std::uint8_t>(kFoldHigh[i] + 32);
  }
  return t;
}

// Letters below 0xC0 whose places differ: windows-1250, ISO-8859-2.
constexpr unsigned char kIsoPairs[][2] = {
    {0x8A, 0xA9}, {0x8C, 0xA6}, {0x8D, 0xAB}, {0x8E, 0xAE}, {0x8F, 0xAC},  // Š Ś Ť Ž Ź
    {0x9A, 0xB9}, {0x9C, 0xB6}, {0x9D, 0xBB}, {0x9E, 0xBE}, {0x9F, 0xBC},  // š ś ť ž ź
    {0xA3, 0xA3}, {0xA5, 0xA1}, {0xAA, 0xAA}, {0xAF, 0xAF},                // Ł Ą Ş Ż
    {0xB3, 0xB3}, {0xB9, 0xB1}, {0xBA, 0xBA}, {0xBC, 0xA5}, {0xBE, 0xB5},  // ł ą ş Ľ ľ
    {0xBF, 0xBF},                                                           // ż
};

struct IsoTables {
  std::array<std::uint8_t, 256> to{}, from{};
};

constexpr IsoTables BuildIso() {
  IsoTables t{};
  for (int c = 0; c < 256; ++c) {
    // ASCII letters and digits, and the letters of 0xC0-0xFF, have one place in both.
    bool same = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                (c >= 0xC0 && c != 0xD7 && c != 0xF7 && c != 0xFF);
    if (same) t.to[c] = t.from[c] = static_cast<std::uint8_t>(c);
  }
  for (const auto& p : kIsoPairs) {
    t.to[p[0]] = p[1];
    t.from[p[1]] = p[0];
  }
  return t;
}

}  // namespace

constinit const std::array<std::uint8_t, 256> kFold = BuildFold();
constinit const std::array<std::uint8_t, 256> kToIso88592 = BuildIso().to;
constinit const std::array<std::uint8_t, 256> kFromIso88592 = BuildIso().from;

void FoldMarks(char* text, std::size_t n) {
  auto* p = reinterpret_cast<unsigned char*>(text);
  for (std::size_t i = 0; i < n; ++i) p[i] = kFold[p[i]];
}

}  // namespace cp1250
