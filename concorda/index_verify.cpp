#include "concorda/index_verify.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "concorda/doc_server_internal.h"
#include "concorda/key_table.h"
#include "concorda/system_files.h"
#include "concorda/word_tokenizer.h"
#include "platform/coding.h"
#include "platform/cp1250.h"

namespace concorda {
namespace {

// Disagreements between the words of the index and of the documents are
// listed one by one up to this many; the rest are counted.
constexpr std::size_t kListedDisagreements = 40;

class IndexVerifier {
 public:
  explicit IndexVerifier(CDocServer& base) : m_base(base) {}

  std::vector<CFileServer::Finding> Run() {
    FindItems();
    const bool keys = LoadKeyTable();
    const bool words = LoadWordTable();
    if (!keys && !words && m_documents.empty()) return std::move(m_findings);  // no documents, no index
    if (!keys) Add(CFileServer::kNoItem, "the key table is missing");
    if (!words) Add(CFileServer::kNoItem, "the word table is missing");
    CompareWithDocuments();
    return std::move(m_findings);
  }

 private:
  void Add(DWORD slot, const std::string& what) {
    auto it = m_names.find(slot);
    m_findings.push_back({slot, it == m_names.end() ? std::string() : it->second, what});
  }

  // The documents and the system files, by exact name.
  void FindItems() {
    for (DWORD i = 0; i < m_base.GetSize(); ++i) {
      FileItemPtr item(m_base.GetItem(i));
      if (!item || !NameFits(item.get())) continue;
      m_names[i] = item->szName;
      if (IsSystemFileName(item->szName)) m_system[item->szName] = i;
      else m_documents.push_back(i);
    }
  }

  bool IsDocument(DWORD item) const { return std::binary_search(m_documents.begin(), m_documents.end(), item); }

  // The contents of a system file; false (with a finding) when it cannot be read.
  bool ReadSystemFile(DWORD slot, CMemFile& out) {
    try {
      if (FileItemPtr(m_base.GetFile(slot, out, 0, FALSE))) return true;
      Add(slot, "the system file cannot be read");
    } catch (const CException& e) {
      Add(slot, "the system file cannot be read: " + e.GetErrorMessage());
    }
    return false;
  }

  bool LoadKeyTable() {
    auto it = m_system.find(kKeyTableName);
    if (it == m_system.end()) return false;
    CMemFile file(4096);
    if (!ReadSystemFile(it->second, file)) return true;
    CKeyTable keys;
    if (!keys.Parse(file.GetBuffer(), static_cast<std::size_t>(file.GetLength())))
      Add(it->second, "the key table is damaged (" + std::to_string(keys.Size()) + " keys readable)");
    for (const auto& [hash, items] : keys.All())
      for (DWORD item : items)
        if (!IsDocument(item))
          Add(it->second, "key hash " + std::to_string(hash) + " lists item " + std::to_string(item) +
                              ", which is no document of the base");
    return true;
  }

  // The index file `number`, read once; null when it cannot be.
  const CMemFile* IndexFile(DWORD number) {
    auto cached = m_indexFiles.find(number);
    if (cached != m_indexFiles.end()) return cached->second.get();
    auto& slot = m_indexFiles[number];
    auto it = m_system.find(IndexFileName(number));
    if (it == m_system.end()) {
      Add(CFileServer::kNoItem, "index file " + std::to_string(number) + " is missing");
      return nullptr;
    }
    auto file = std::make_unique<CMemFile>(4096);
    if (!ReadSystemFile(it->second, *file)) return nullptr;
    slot = std::move(file);
    return slot.get();
  }

  bool LoadWordTable() {
    auto it = m_system.find(kWordTableName);
    if (it == m_system.end()) return false;
    CMemFile file(65536);
    if (!ReadSystemFile(it->second, file)) return true;
    const ParsedWordTable table = ParseWordTableFile(file.GetBuffer(), static_cast<std::size_t>(file.GetLength()));
    if (!table.whole) Add(it->second, "the word table is damaged (" + std::to_string(table.words.size()) + " words readable)");
    for (const auto& [offset, ref] : table.words) {
      const std::string word(reinterpret_cast<const char*>(table.area.data() + offset));
      const CMemFile* index = IndexFile(ReferenceFile(ref));
      if (!index) continue;
      DWORD count = 0;
      const BYTE* topics = nullptr;
      if (!ReadIndexSlot(index->GetBuffer(), static_cast<std::size_t>(index->GetLength()), ReferenceSlot(ref), count,
                         topics)) {
        Add(m_system[IndexFileName(ReferenceFile(ref))],
            "word " + word + ": its topics (slot " + std::to_string(ReferenceSlot(ref)) + ") cannot be read");
        continue;
      }
      std::vector<DWORD>& list = m_stored[word];
      for (DWORD k = 0; k < count; ++k) list.push_back(DecodeLe32(topics + 4 * k));
    }
    return true;
  }

  // What the tokenizer finds in each document, word by word, against what
  // the index holds.
  void CompareWithDocuments() {
    std::map<std::string, std::vector<DWORD>> found;  // word -> topics, ascending by item
    std::map<std::string, DWORD> counts;  // the words of one document
    CGrowBlock scratch;
    for (DWORD slot : m_documents) {
      CMemFile text(4096);
      try {
        if (!FileItemPtr(m_base.GetFile(slot, text, 0, FALSE))) continue;  // the container check reports it
      } catch (const CException&) {
        continue;
      }
      text.Write("", 1);  // the tokenizer may look one byte beyond the text
      char* p = reinterpret_cast<char*>(text.GetBuffer());
      DWORD left = static_cast<DWORD>(text.GetLength()) - 1;
      cp1250::UpperCase(p, left);
      counts.clear();
      char* word = nullptr;
      DWORD n = 0;
      while (char* next = NextWordIn(p, left, &word, &n, scratch)) {
        left -= static_cast<DWORD>(next - p);
        p = next;
        if (word && n) ++counts[std::string(word, n)];
      }
      for (const auto& [w, count] : counts)
        if (IsAdmitted(w)) found[w].push_back(MakeTopic(slot, count));
    }
    std::size_t disagreements = 0;
    auto disagree = [&](DWORD slot, const std::string& what) {
      if (++disagreements <= kListedDisagreements) Add(slot, what);
    };
    auto stored = m_stored.begin();
    auto actual = found.begin();
    while (stored != m_stored.end() || actual != found.end()) {
      const bool inIndex = stored != m_stored.end() && (actual == found.end() || stored->first <= actual->first);
      const bool inText = actual != found.end() && (stored == m_stored.end() || actual->first <= stored->first);
      static const std::vector<DWORD> none;
      const std::string& word = inIndex ? stored->first : actual->first;
      CompareTopics(word, inIndex ? stored->second : none, inText ? actual->second : none, disagree);
      if (inIndex) ++stored;
      if (inText) ++actual;
    }
    if (disagreements > kListedDisagreements)
      Add(CFileServer::kNoItem, std::to_string(disagreements - kListedDisagreements) +
                                    " more disagreements between the index and the documents");
  }

  template <class Disagree>
  void CompareTopics(const std::string& word, const std::vector<DWORD>& stored, const std::vector<DWORD>& actual,
                     Disagree& disagree) {
    for (std::size_t k = 1; k < stored.size(); ++k)
      if (TopicItem(stored[k]) <= TopicItem(stored[k - 1])) {
        disagree(CFileServer::kNoItem, "word " + word + ": its topics are not in ascending item order");
        return;
      }
    std::size_t i = 0, j = 0;
    while (i < stored.size() || j < actual.size()) {
      const DWORD s = i < stored.size() ? TopicItem(stored[i]) : kItemMask + 1;
      const DWORD a = j < actual.size() ? TopicItem(actual[j]) : kItemMask + 1;
      if (s < a) {
        disagree(s, IsDocument(s) ? "the index lists word " + word + " for this document, which does not hold it"
                                  : "the index lists word " + word + " for item " + std::to_string(s) +
                                        ", which is no document of the base");
        ++i;
      } else if (a < s) {
        disagree(a, "word " + word + " is in the document but not in the index");
        ++j;
      } else {
        if (stored[i] >> 24 != actual[j] >> 24)
          disagree(a, "word " + word + ": the index counts " + std::to_string(stored[i] >> 24) +
                          " occurrences, the document holds " + std::to_string(actual[j] >> 24));
        ++i;
        ++j;
      }
    }
  }

  CDocServer& m_base;
  std::map<DWORD, std::string> m_names;      // readable descriptors
  std::map<std::string, DWORD> m_system;     // system file name -> slot
  std::vector<DWORD> m_documents;            // ascending
  std::map<DWORD, std::unique_ptr<CMemFile>> m_indexFiles;
  std::map<std::string, std::vector<DWORD>> m_stored;  // word -> topics as stored
  std::vector<CFileServer::Finding> m_findings;
};

}  // namespace

std::vector<CFileServer::Finding> VerifyIndex(CDocServer& base) { return IndexVerifier(base).Run(); }

}  // namespace concorda
