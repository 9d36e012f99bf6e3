// CDocServer: the topics of appended documents, kept waiting and merged into
// the word table in one pass (doc_server.h, Words()).
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/word_tokenizer.h"

using namespace concorda;

namespace {

// Word numbers above this do not fit the 24 bits of a waiting topic.
constexpr std::size_t kMaxDeferredWord = 0x00FFFFFF;

}  // namespace

bool CDocServer::CanDeferTopics(DWORD index, const CDocPositions& doc) const {
  return DefersBefore(index) && m_positionsSession &&
         m_positionsSession->WordCount() + doc.WordCount() <= kMaxDeferredWord;
}

void CDocServer::DeferTopics(DWORD index, const CDocPositions& doc) {
  for (std::size_t i = 0; i < doc.WordCount(); ++i) {
    const CDocPositions::Word& w = doc.WordAt(i);
    if (!w.textCount || !IsAdmitted(w.text)) continue;  // markup pieces are no words of the index
    const DWORD occurrences = std::min<DWORD>(w.textCount, 255);
    if (m_deferredCount % kDeferredBlock == 0) m_deferredTopics.emplace_back(kDeferredBlock * sizeof(DWORD));
    DeferredBlock(m_deferredCount / kDeferredBlock)[m_deferredCount % kDeferredBlock] =
        m_positionsSession->LastWordNumber(i) << 8 | occurrences;
    ++m_deferredCount;
  }
  m_deferredDocs.push_back(DeferredDoc{index, m_deferredCount});
}

void CDocServer::ShiftDeferredTopics(const ChangeRecord& change) {
  for (DeferredDoc& d : m_deferredDocs)
    if (d.item != kGoneItem && !ApplyChange(change, d.item)) d.item = kGoneItem;
}

void CDocServer::DropDeferredTopics() {
  m_deferredTopics = std::vector<CLargeBuffer>();
  m_deferredCount = 0;
  m_deferredDocs = {};
}

void CDocServer::MergeDeferredTopics() {
  CSingleLock lock(m_mutexIndex);
  if (m_deferredDocs.empty()) return;
  const CPositionsBuilder& session = *m_positionsSession;
  // Calls f(waiting topic, item) for each topic of a document still there,
  // document by document.
  auto forEachWaiting = [this](auto f) {
    std::size_t k = 0;
    for (const DeferredDoc& d : m_deferredDocs) {
      if (d.item != kGoneItem)
        for (; k < d.end; ++k) f(DeferredBlock(k / kDeferredBlock)[k % kDeferredBlock], d.item);
      k = d.end;
    }
  };
  const std::size_t words = session.WordCount();
  std::vector<DWORD> waiting(words, 0);
  forEachWaiting([&](DWORD t, DWORD) { ++waiting[t >> 8]; });

  // Room for each word's topics where they will stay: behind the topics a
  // word of the table has (brought current first; they name only items
  // before the waiting ones), or in a new record. The new words go into the
  // table in one pass, in word order.
  std::vector<DWORD*> room(words, nullptr);
  std::vector<std::pair<std::string_view, std::size_t>> fresh;
  std::vector<DWORD> old;
  for (std::size_t w = 0; w < words; ++w) {
    if (!waiting[w]) continue;
    const std::string_view text = session.WordText(w);
    WordIndex* record = m_wordTable.Lookup(text);
    if (!record) {
      fresh.emplace_back(text, w);
      continue;
    }
    // Stored topics that cannot be read are lost, but the new documents are
    // still found by the word.
    LoadTopics(*record);
    old.assign(TopicData(*record), TopicData(*record) + TopicCount(*record));
    DWORD* topics = MakeTopicRoom(*record, old.size() + waiting[w]);
    std::copy(old.begin(), old.end(), topics);
    room[w] = topics + old.size();
  }
  std::sort(fresh.begin(), fresh.end());
  std::vector<std::pair<std::size_t, WordIndex>> added;
  added.reserve(fresh.size());  // the room of a single topic lies in its record
  try {
    std::size_t pos = 0;
    for (const auto& [text, w] : fresh) room[w] = MakeTopicRoom(AddNewWord(added, pos, text), waiting[w]);
  } catch (const CMemoryException&) {
    for (auto& [at, r] : added) {
      FreeTopics(r, 0);
      free(r.m_pWord);
    }
    throw;
  }
  // The topics, document by document: each word's come in item order.
  forEachWaiting([&](DWORD t, DWORD item) { *room[t >> 8]++ = MakeTopic(item, t & 0xFF); });
  DropDeferredTopics();
  m_wordTable.InsertSorted(added);
}
