#include "concorda/system_files.h"

#include <algorithm>
#include <cstring>

#include "concorda/bytes.h"

namespace concorda {

const char kKeyTableName[] = "HashKeyTable030485672627463748369028353763725658274628374";
const char kWordTableName[] = "WordTopicTable030485672627463748369028353763725658274628374";
const char kIndexFilePrefix[] = "WordIndexFile039482834628192737Word";

static_assert(sizeof(kIndexFilePrefix) - 1 == kIndexFilePrefixLength);

std::string IndexFileName(DWORD number) { return kIndexFilePrefix + std::to_string(number); }

bool IsSystemFileName(const char* name) {
  return std::strcmp(name, kKeyTableName) == 0 || std::strcmp(name, kWordTableName) == 0 ||
         std::strncmp(name, kIndexFilePrefix, kIndexFilePrefixLength) == 0;
}

std::vector<BYTE> BuildWordTableFile(const CWordTable& table) {
  const std::size_t n = table.Size();
  std::vector<BYTE> out;
  std::size_t area = 0;
  for (std::size_t i = 0; i < n; ++i) area += std::strlen(table[i].m_pWord) + 1;
  out.reserve(8 + 4 * n + area);
  PutDword(out, static_cast<DWORD>(n));
  PutDword(out, static_cast<DWORD>(area));
  for (std::size_t i = 0; i < n; ++i) PutDword(out, table[i].m_dwRef);
  for (std::size_t i = 0; i < n; ++i) {
    const char* w = table[i].m_pWord;
    out.insert(out.end(), w, w + std::strlen(w) + 1);
  }
  return out;
}

ParsedWordTable ParseWordTableFile(const BYTE* data, std::size_t length) {
  ParsedWordTable t;
  CByteReader in(data, length);
  DWORD n = 0, s = 0;
  if (!in.Dword(0, n) || !in.Dword(4, s)) {
    t.whole = length == 0;
    return t;
  }
  // References and words are matched by position: unless the counts agree
  // with the file's length (or the file was only cut short inside the word
  // area), no word can be trusted to own its reference.
  const ULONGLONG areaStart = 8 + ULONGLONG(n) * 4;
  if (areaStart > length || areaStart + s < length) {
    t.whole = false;
    return t;
  }
  if (!in.Fits(areaStart, s)) {
    s = static_cast<DWORD>(length - areaStart);
    t.whole = false;
  }
  t.area.assign(data + areaStart, data + areaStart + s);
  t.area.push_back(0);  // a last word without its NUL still ends inside the block
  t.words.reserve(n);
  std::size_t at = 0;
  for (DWORD k = 0; k < n && at < s; ++k) {
    const void* nul = std::memchr(t.area.data() + at, 0, s - at);
    if (!nul) {
      t.whole = false;
      break;
    }
    t.words.emplace_back(static_cast<DWORD>(at), GetDword(data + 8 + 4 * ULONGLONG(k)));
    at = static_cast<const BYTE*>(nul) - t.area.data() + 1;
  }
  if (t.words.size() != n) t.whole = false;
  auto word = [&](const std::pair<DWORD, DWORD>& w) { return reinterpret_cast<const char*>(t.area.data() + w.first); };
  auto less = [&](const auto& a, const auto& b) { return std::strcmp(word(a), word(b)) < 0; };
  auto same = [&](const auto& a, const auto& b) { return std::strcmp(word(a), word(b)) == 0; };
  bool ordered = true;
  for (std::size_t i = 1; i < t.words.size() && ordered; ++i) ordered = less(t.words[i - 1], t.words[i]);
  if (!ordered) {  // lookups are binary searches: put a damaged table in order
    std::stable_sort(t.words.begin(), t.words.end(), less);
    t.words.erase(std::unique(t.words.begin(), t.words.end(), same), t.words.end());
    t.whole = false;
  }
  return t;
}

void BuildIndexFile(const std::vector<std::pair<const DWORD*, DWORD>>& lists, std::vector<BYTE>& out) {
  const std::size_t k = lists.size();
  std::size_t size = 4 * k;
  for (const auto& l : lists) size += 4 + 4 * std::size_t(l.second);
  out.clear();
  out.reserve(size);
  DWORD offset = static_cast<DWORD>(4 * k);
  for (const auto& l : lists) {
    PutDword(out, offset);
    offset += 4 + 4 * l.second;
  }
  for (const auto& l : lists) {
    PutDword(out, l.second);
    for (DWORD i = 0; i < l.second; ++i) PutDword(out, l.first[i]);
  }
}

bool ReadIndexSlot(const BYTE* data, std::size_t length, DWORD slot, DWORD& count, const BYTE*& topics) {
  CByteReader in(data, length);
  DWORD first = 0, offset = 0, c = 0;
  // The slot must lie inside the slot table, whose end the first offset
  // marks, and its block behind that table.
  if (!in.Dword(0, first) || ULONGLONG(slot) * 4 + 4 > first) return false;
  if (!in.Dword(ULONGLONG(slot) * 4, offset) || offset < first || !in.Dword(offset, c)) return false;
  if (!in.Fits(ULONGLONG(offset) + 4, ULONGLONG(c) * 4)) return false;
  count = c;
  topics = data + offset + 4;
  return true;
}

}  // namespace concorda
