// Shared test helpers: a temporary base, documents, queries, and the
// reference model that checks an index against the documents' actual words.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "concorda/query_budget.h"
#include "concorda/system_files.h"
#include "concorda/word_index.h"
#include "concorda/word_query.h"
#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"
#include "platform/paths.h"

// The tests' view inside a CDocServer (befriended by it).
struct CDocServerProbe {
  static concorda::CWordTable& Words(CDocServer& s) { return s.Words(); }
  static DWORD SystemFilesCount(CDocServer& s) { return s.GetSystemFilesCount(); }
  static std::size_t PendingChanges(CDocServer& s) { return s.m_log.Size(); }
  // After words were put into the table directly: Close is to write them.
  static void MarkChanged(CDocServer& s) { s.m_bDirty = true; }
  // The stamp that ties the positions file to the base's state.
  static ULONGLONG StateStamp(CDocServer& s) { return s.StateStamp(); }
};

namespace doctest {

// A directory of its own under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = TempDirectory() + "/concorda_testXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) m_path = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

inline GUID TestGuid() {
  GUID g{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  return g;
}

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite;
constexpr UINT kWrite = CFile::modeReadWrite;
constexpr UINT kRead = CFile::modeRead;

// Stores a document (zlib) with its keys; returns its item index.
inline DWORD AddDoc(CDocServer& s, const std::string& name, const std::string& text, const char* keys = nullptr,
                    DWORD at = CFileServer::kNoItem, bool replace = false) {
  CMemFile file(4096);
  if (!text.empty()) file.Write(text.data(), static_cast<UINT>(text.size()));
  file.SeekToBegin();
  _FILEITEM* item = MakeFileItem(name.c_str());
  DWORD index = at == CFileServer::kNoItem ? s.AddFile(file, item, keys, 2)
                : replace                  ? s.ReplaceFile(file, item, at, keys, 2)
                                           : s.InsertFile(file, item, at, keys, 2);
  CFileServer::FreeFileItem(item);
  return index;
}

// Stores raw bytes under a name without indexing them (system files, damage).
inline DWORD PutRaw(CFileServer& s, const std::string& name, const std::vector<BYTE>& bytes) {
  CMemFile file(4096);
  if (!bytes.empty()) file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
  file.SeekToBegin();
  _FILEITEM* item = MakeFileItem(name.c_str(), kSystemItemSize);
  DWORD index = s.GetItemIndex(name.c_str());
  DWORD result = index == CFileServer::kNoItem ? s.AddFile(file, item, 2) : s.ReplaceFile(file, item, index, 2);
  CFileServer::FreeFileItem(item);
  return result;
}

inline std::vector<BYTE> ReadRaw(CFileServer& s, const std::string& name) {
  CMemFile file(4096);
  _FILEITEM* item = s.GetFile(name.c_str(), file, 0, FALSE);
  if (!item) return {};
  CFileServer::FreeFileItem(item);
  return std::vector<BYTE>(file.GetBuffer(), file.GetBuffer() + file.GetLength());
}

// Every item of a handle, in order; the handle is used up.
inline std::vector<DWORD> Drain(CDocServer::FindHandle* h, WORD first) {
  std::vector<DWORD> out;
  if (h == CDocServer::NoFind()) return out;
  out.push_back(first);
  WORD next = 0;
  while (CDocServer::FindNextDoc(h, &next)) out.push_back(next);
  return out;
}

inline std::vector<DWORD> Query(CDocServer& s, const char* q) {
  WORD first = 0xFFFF;
  CDocServer::FindHandle* h = s.FindFirstDoc(q, &first, nullptr);
  return Drain(h, first);
}

inline std::vector<DWORD> KeyQuery(CDocServer& s, const char* keys) {
  WORD first = 0xFFFF;
  CDocServer::FindHandle* h = s.FindFirstDocFromKey(keys, &first);
  return Drain(h, first);
}

// Every word (admitted or not) as the index's tokenizer cuts the upper-cased text.
inline std::vector<std::string> TokenizerWords(std::string text) {
  cp1250::UpperCase(text.data(), text.size());
  std::vector<std::string> out;
  concorda::CGrowBlock scratch;
  char* p = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  char* word = nullptr;
  DWORD n = 0;
  while (char* next = concorda::NextWordIn(p, left, &word, &n, scratch)) {
    left -= static_cast<DWORD>(next - p);
    p = next;
    if (word) out.emplace_back(word, n);
  }
  return out;
}

// Admitted words of a document, with their occurrence counts.
inline std::map<std::string, DWORD> DocWords(std::string text) {
  std::map<std::string, DWORD> out;
  for (const std::string& w : TokenizerWords(std::move(text)))
    if (concorda::IsAdmitted(w.c_str())) ++out[w];
  return out;
}

// A word query within `limits`: the documents, or nothing when the query is
// refused (a refused query must hand out no documents).
inline std::optional<std::vector<DWORD>> QueryWithin(CDocServer& s, const char* text,
                                                     const concorda::CQueryBudget::Limits& limits) {
  concorda::CQueryBudget budget(limits);
  CWordQuery query(text, budget);
  std::vector<DWORD> items{999};
  if (!s.FindDocs(query, items)) {
    EXPECT_TRUE(items.empty()) << "a refused query hands out nothing";
    EXPECT_TRUE(query.IsRefused());
    return std::nullopt;
  }
  return items;
}

// The reference: word -> (item -> occurrences), from the documents the
// container really holds (system files and empty slots left out).
inline std::map<std::string, std::map<DWORD, DWORD>> ScanDocuments(CDocServer& s) {
  std::map<std::string, std::map<DWORD, DWORD>> out;
  for (DWORD i = 0; i < s.GetSize(); ++i) {
    if (s.IsSystemFile(i)) continue;
    CMemFile file(4096);
    _FILEITEM* item = s.GetFile(i, file, 0, FALSE);
    if (!item) continue;
    CFileServer::FreeFileItem(item);
    std::string text(reinterpret_cast<const char*>(file.GetBuffer()), static_cast<std::size_t>(file.GetLength()));
    for (const auto& [w, n] : DocWords(text)) out[w][i] = n;
  }
  return out;
}

// The word table, the topic lists and the word queries agree with the
// documents. Until the index is written, a word whose documents all went
// away may stay in the table without topics (`written` false allows that).
inline void ExpectIndexMatchesDocuments(CDocServer& s, bool written = true) {
  auto ref = ScanDocuments(s);
  std::vector<std::string> indexed;
  std::vector<DWORD> positions;
  for (DWORD i = 0; i < s.GetWordCount(); ++i) {
    if (!written && s.GetWordTopics(i).empty()) continue;
    indexed.push_back(s.GetWordAt(i));
    positions.push_back(i);
  }
  std::vector<std::string> expected;
  for (const auto& [w, docs] : ref) expected.push_back(w);
  ASSERT_EQ(indexed, expected) << "word table differs from the documents' words";
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const auto& docs = ref[indexed[k]];
    std::vector<DWORD> topics = s.GetWordTopics(positions[k]), want;
    for (const auto& [item, n] : docs) want.push_back(concorda::MakeTopic(item, n));
    EXPECT_EQ(topics, want) << "topics of " << indexed[k];
    std::vector<DWORD> items;
    for (const auto& [item, n] : docs) items.push_back(item & 0xFFFF);
    EXPECT_EQ(Query(s, indexed[k].c_str()), items) << "query " << indexed[k];
  }
}

// Random documents over a small vocabulary (Polish letters, numbers, stop
// words, markup inside and between words), reproducible from the seed.
class DocMaker {
 public:
  explicit DocMaker(unsigned seed) : m_state(seed * 2654435761u + 1) {}
  std::string Make(int words) {
    static const char* const kVocabulary[] = {
        "ustawa", "Ustawy", "KODEKS", "pracy", "karny", "cywilny", "1997", "2004", "7", "art",
        "paragraf", "żółw", "złoty", "sąd", "orzeczenie", "oraz",
        "lub", "nie", "w", "i", "Trybunał", "minister", "rozporządzenie", "UST<B>AWA</B>", "dz<sup>1</sup>",
        "&nbsp;", "2000r", "zawiadawca", "lublin", "ZAŚ", "po", "konstytucja", "wyrok", "uchwała"};
    std::string out = Next() % 3 == 0 ? "<P>" : "";
    for (int i = 0; i < words; ++i) {
      if (i) out += Next() % 7 == 0 ? ", " : " ";
      out += kVocabulary[Next() % (sizeof kVocabulary / sizeof kVocabulary[0])];
    }
    return out + (Next() % 2 ? "</P>" : ".");
  }
  unsigned Next() {
    m_state = m_state * 1103515245u + 12345u;
    return (m_state >> 16) & 0x7FFF;
  }

 private:
  unsigned m_state;
};

}  // namespace doctest
