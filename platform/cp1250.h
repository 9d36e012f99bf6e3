// Character services for windows-1250, the one code page of the system.
//
// Four 256-entry tables (upper case, lower case, letter-or-digit, digit,
// white space) stand in for the "polish" locale of the system the formats
// come from. Documents, queries and the catalogue all classify through these
// tables, so an indexed word and a query word always compare byte for byte.
// No locale is ever selected at run time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cp1250 {

struct Tables {
  std::uint8_t upper[256];
  std::uint8_t lower[256];
  bool alpha[256];
  bool digit[256];
  bool space[256];
};
extern const Tables kTables;

inline unsigned char ToUpper(unsigned char c) { return kTables.upper[c]; }
inline unsigned char ToLower(unsigned char c) { return kTables.lower[c]; }
// A letter: ASCII letters and the letters of windows-1250 (Polish ones included).
inline bool IsAlpha(unsigned char c) { return kTables.alpha[c]; }
// An ASCII digit; windows-1250 has no other digits.
inline bool IsDigit(unsigned char c) { return kTables.digit[c]; }
inline bool IsAlnum(unsigned char c) { return kTables.alpha[c] || kTables.digit[c]; }
// ASCII white space (tab, line feed, vertical tab, form feed, carriage return, space).
inline bool IsSpace(unsigned char c) { return kTables.space[c]; }

// Upper-cases n bytes in place.
void UpperCase(char* text, std::size_t n);
// Upper-cases a NUL-terminated string in place.
void UpperCase(char* text);

// The letter without its marks: ą -> a, Ł -> L, ó -> o, ź and ż -> z, and so
// for every marked letter of the code page (á, č, ö, ř, ...). Case is kept;
// every other byte (ß and µ too) stays as it is. A query "bez polskich
// znaków" compares words through this table.
extern const std::array<std::uint8_t, 256> kFold;
inline unsigned char FoldMarks(unsigned char c) { return kFold[c]; }
// Folds n bytes in place.
void FoldMarks(char* text, std::size_t n);

// The same letters in ISO-8859-2, the code page of the Polish spelling
// dictionary. The two code pages share ASCII and 0xC0-0xFF; they differ in
// where they put the letters below 0xC0. Every letter of windows-1250 has a
// place in ISO-8859-2 except µ, which has none (0 in the table); bytes that
// are no letters map to 0 as well, so a converted word holds letters and
// digits only.
extern const std::array<std::uint8_t, 256> kToIso88592;
// The way back; 0 for the bytes of ISO-8859-2 that are no letter or digit.
extern const std::array<std::uint8_t, 256> kFromIso88592;

}  // namespace cp1250
