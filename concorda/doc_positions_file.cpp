// CDocServer: the positions file beside the base (positions_format.h),
// written whenever the index is written, opened by queries on first use,
// and the phrase filter and proximity that read it (or, without a file to
// trust, the documents).
#include <algorithm>
#include <unordered_map>

#include "concorda/doc_server.h"
#include "concorda/doc_server_internal.h"
#include "concorda/fragment.h"
#include "concorda/marked_phrase.h"
#include "concorda/phrase_positions.h"
#include "concorda/positions_format.h"
#include "concorda/proximity.h"
#include "platform/message_box.h"

using namespace concorda;

ULONGLONG CDocServer::StateStamp() {
  CStateStamp stamp(m_Guid, m_dwSize);
  for (DWORD record : RecordOffsets()) stamp.AddSlot(record);
  return stamp.Value();
}

void CDocServer::ReleasePositions() {
  // Waiting topics name the session's words: they go into the table first.
  Words();
  m_positionsSession.reset();
  m_positionsFile.reset();
  m_positionsRecords.clear();
  m_positionsUse.store(0);
}

void CDocServer::OpenPositionsForWriting() {
  ReleasePositions();
  m_positionsSession = std::make_unique<CPositionsBuilder>();
  m_positionsFile = std::make_unique<CPositionsFile>();
  try {
    std::vector<DWORD> records = RecordOffsets();
    CStateStamp stamp(m_Guid, m_dwSize);
    for (DWORD record : records) stamp.AddSlot(record);
    if (m_positionsFile->Open(PositionsPath(GetFilePath()), m_Guid, stamp.Value(), m_dwSize) ==
        CPositionsFile::State::kUsable)
      m_positionsRecords.swap(records);
  } catch (const CException&) {
    // A container whose slots cannot be read has no positions to start from.
    m_positionsFile->Close();
  }
}

bool CDocServer::ReadDocument(DWORD index, std::string& bytes) {
  try {
    CMemFile content(4096);
    if (!FileItemPtr(GetFile(index, content, 0, FALSE))) return false;
    bytes.assign(reinterpret_cast<const char*>(content.GetBuffer()), static_cast<std::size_t>(content.GetLength()));
    return true;
  } catch (const CException&) {
    return false;  // a document that cannot be read is left out, as the scan leaves it out
  }
}

std::vector<PositionsSource> CDocServer::PositionsSources(bool fromDocuments, bool dropEmpty) {
  if (!m_positionsSession) m_positionsSession = std::make_unique<CPositionsBuilder>();
  // The documents of the old file, by the record each had when it was opened.
  std::unordered_map<DWORD, DWORD> oldByRecord;
  if (!fromDocuments && m_positionsFile && m_positionsFile->IsUsable())
    for (DWORD j = 0; j < m_positionsRecords.size(); ++j)
      if (m_positionsRecords[j]) oldByRecord.emplace(m_positionsRecords[j], j);
  std::vector<PositionsSource> sources;
  sources.reserve(m_dwSize);
  std::string bytes;
  CDocPositions doc;
  const std::vector<DWORD> records = RecordOffsets();
  for (DWORD i = 0; i < records.size(); ++i) {
    const DWORD record = records[i];
    if (record == 0) {
      if (!dropEmpty) sources.push_back({});
      continue;
    }
    PositionsSource source;
    if (IsSystemFile(i)) {
      sources.push_back(source);
      continue;
    }
    DWORD session = fromDocuments ? CPositionsBuilder::kNone : m_positionsSession->Find(record);
    if (session != CPositionsBuilder::kNone) {
      source = {PositionsSource::kSession, session};
    } else if (auto old = oldByRecord.find(record); old != oldByRecord.end()) {
      source = {PositionsSource::kOld, old->second};
    } else if (ReadDocument(i, bytes)) {
      // Known from nowhere (stored by an older program, or no file yet): read.
      doc.Read(bytes.data(), bytes.size());
      doc.Code();
      m_positionsSession->Add(record, doc, false);
      source = {PositionsSource::kSession, m_positionsSession->Find(record)};
    } else {
      source.unread = true;
    }
    // A topic list lost while indexing leaves the index short of words.
    source.indexed = source.kind == PositionsSource::kSession && m_positionsSession->Indexed(source.number) &&
                     !m_bTopicsLost;
    sources.push_back(source);
  }
  return sources;
}

bool CDocServer::WritePositionsFor(const std::vector<PositionsSource>& sources, bool fromDocuments, std::string* why,
                                   CLemmaLookahead* lemmas) {
  std::string reason;
  try {
    const CPositionsFile* old =
        !fromDocuments && m_positionsFile && m_positionsFile->IsUsable() ? m_positionsFile.get() : nullptr;
    if (WritePositionsFile(GetFilePath(), m_Guid, StateStamp(), sources, *m_positionsSession, old,
                           &reason, lemmas)) {
      m_positionsUse.store(0);  // queries open the new file
      return true;
    }
  } catch (const CPositionsDamaged& e) {
    // The old file proved damaged while it was copied: the documents say it all.
    if (!fromDocuments) return WritePositionsFor(PositionsSources(true, false), true, why, lemmas);
    reason = e.what();
  } catch (const CException& e) {
    reason = e.GetErrorMessage();
  }
  if (why) *why = reason;
  MessageBox(PositionsPath(GetFilePath()) + ": word positions not written (" + reason +
                 "); phrases will be searched in the documents",
             "DocServer");
  return false;
}

BOOL CDocServer::WritePositions(std::string* why) {
  if (!IsOpen()) {
    if (why) *why = "the base is not open";
    return FALSE;
  }
  try {
    return WritePositionsFor(PositionsSources(true, false), true, why) ? TRUE : FALSE;
  } catch (const CException& e) {
    if (why) *why = e.GetErrorMessage();
    return FALSE;
  }
}

CPositionsFile::State CDocServer::PositionsState() {
  if (QueryPositions()) return CPositionsFile::State::kUsable;
  std::lock_guard<std::mutex> lock(m_positionsMutex);
  return m_positionsFile ? m_positionsFile->GetState() : CPositionsFile::State::kClosed;
}

const CPositionsFile* CDocServer::QueryPositions() {
  // A base being written has changes that no file holds yet.
  if (IsWritable()) return nullptr;
  int use = m_positionsUse.load(std::memory_order_acquire);
  if (use == 0) {
    std::lock_guard<std::mutex> lock(m_positionsMutex);
    use = m_positionsUse.load(std::memory_order_relaxed);
    if (use == 0) {
      auto file = std::make_unique<CPositionsFile>();
      std::string why;
      try {
        file->Open(PositionsPath(GetFilePath()), m_Guid, StateStamp(), m_dwSize, &why);
      } catch (const CException& e) {
        why = e.GetErrorMessage();
      }
      use = file->IsUsable() ? 1 : 2;
      if (use == 2)
        MessageBox(PositionsPath(GetFilePath()) + ": " + why + "; phrases and proximity read the documents instead",
                   "DocServer");
      m_positionsTopics = use == 1 && GivesTopics(*file);
      m_positionsFile = std::move(file);
      m_positionsUse.store(use, std::memory_order_release);
    }
  }
  return use == 1 ? m_positionsFile.get() : nullptr;
}

bool CDocServer::GivesTopics(const CPositionsFile& file) {
  if (!file.HasWordCounts()) {
    if (!file.WordCountsProblem().empty())
      MessageBox(PositionsPath(GetFilePath()) + ": " + file.WordCountsProblem() +
                     "; the documents of words are read from the index files",
                 "DocServer");
    return false;
  }
  // A document that could not be read when the file was written has no
  // record, but the index may know its words: the index decides then.
  try {
    for (DWORD i = 0; i < m_dwSize; ++i)
      if (!file.HasRecord(i) && FindOffset(i) != 0 && !IsSystemFile(i)) return false;
  } catch (const CException&) {
    return false;
  }
  return true;
}

const CPositionsFile* CDocServer::TopicPositions() {
  const CPositionsFile* file = QueryPositions();
  return file && m_positionsTopics ? file : nullptr;
}

bool CDocServer::TopicsFromPositions(const CPositionsFile& file, WordIndex& w) {
  const std::size_t word = file.Find(w.m_pWord);
  if (word == CPositionsFile::npos) return false;
  try {
    const CKept<BYTE> bytes = file.Postings(word);
    // Gathered in memory the thread keeps from word to word (the word table
    // takes a copy): memory touched for the first time costs a page fault a
    // page, as much as decoding thousands of postings on a virtual machine.
    thread_local std::vector<DWORD> topics;
    topics.clear();
    if (topics.capacity() > (1u << 18)) topics.shrink_to_fit();
    // A posting takes a byte at least: a damaged count asks for no more.
    topics.reserve(std::min<std::size_t>(file.DocumentCount(word), bytes.size()));
    CPostingReader reader(bytes.data(), bytes.size());
    Posting p;
    while (reader.Next(p)) {
      if (p.slot > kItemMask) return false;  // beyond what a topic names
      if (const DWORD n = CountOrdinalsBelow(p, file.WordCountOf(p.slot))) topics.push_back(MakeTopic(p.slot, n));
    }
    // The index knows the word, so some document holds it as a word.
    if (topics.empty() || !AssignTopics(w, topics.data(), topics.size(), kNoTopicsRef)) return false;
    w.m_dwLogPos = static_cast<DWORD>(m_log.Size());
    return true;
  } catch (const CPositionsDamaged& e) {
    PositionsUnusable(e.what());
    return false;
  }
}

CKept<DWORD> CDocServer::SlotsFromPositions(const CPositionsFile& file, const WordIndex& w) {
  const std::size_t word = file.Find(w.m_pWord);
  if (word == CPositionsFile::npos) return {};
  try {
    CKept<DWORD> slots = file.WordSlots(word);
    // The index knows the word, so some document holds it as a word; and
    // every slot must be one a topic can name.
    if (slots.empty() || slots.back() > kItemMask) return {};
    return slots;
  } catch (const CPositionsDamaged& e) {
    PositionsUnusable(e.what());
    return {};
  }
}

void CDocServer::PositionsUnusable(const std::string& why) {
  int usable = 1;
  // The file stays open: other queries may still be reading it.
  if (m_positionsUse.compare_exchange_strong(usable, 2))
    MessageBox(PositionsPath(GetFilePath()) + ": " + why + "; phrases and proximity read the documents from now on",
               "DocServer");
}

void CDocServer::FilterPhrases(const PreparedQuery& query, ItemSet& r, CQueryBudget& budget) {
  if (r.empty() || query.phrases.empty()) return;
  const CPositionsFile* file = QueryPositions();
  // What the positions decide, phrase by phrase; the rest is read.
  const std::size_t n = query.phrases.size();
  std::vector<std::vector<PhraseVerdict>> verdicts(n);
  std::vector<std::string> words;
  // Phrases with marked words are matched word by word in the documents.
  const std::vector<std::unique_ptr<CMarkedPhrase>> marked = MarkedPhrases(query, budget);
  for (std::size_t k = 0; k < n && file; ++k) {
    if (marked[k] || !PositionalPhraseWords(query.phrases[k], words)) continue;
    try {
      DecidePhrase(*file, words, r, budget, verdicts[k]);
    } catch (const CPositionsDamaged& e) {
      PositionsUnusable(e.what());
      file = nullptr;
      for (auto& v : verdicts) v.clear();
    }
  }
  std::size_t out = 0;
  std::string bytes;
  for (std::size_t i = 0; i < r.size(); ++i) {
    bool no = false, all = true;
    for (std::size_t k = 0; k < n; ++k) {
      const PhraseVerdict v = verdicts[k].empty() ? PhraseVerdict::kUndecided : verdicts[k][i];
      no = no || v == PhraseVerdict::kNo;
      all = all && v == PhraseVerdict::kYes;
    }
    if (no) continue;
    if (!all) {
      budget.ChargeDocumentRead();
      budget.CheckTime();
      if (!ReadDocument(r[i], bytes)) continue;
      const auto* content = reinterpret_cast<const BYTE*>(bytes.data());
      CDocWords docWords;  // cut only when a marked phrase asks for them
      bool cut = false;
      bool found = true;
      for (std::size_t k = 0; k < n && found; ++k) {
        if (!verdicts[k].empty() && verdicts[k][i] == PhraseVerdict::kYes) continue;
        if (!marked[k]) {
          found = ContainsPhrase(content, bytes.size(), query.phrases[k]);
          continue;
        }
        if (!cut) docWords.Read(bytes, true);
        cut = true;
        found = marked[k]->FoundIn(docWords);
      }
      if (!found) continue;
    }
    r[out++] = r[i];
  }
  r.resize(out);
}

ItemSet CDocServer::ProximityDocs(const Proximity& query, const ItemSet& candidates, CQueryBudget& budget) {
  if (candidates.empty()) return {};
  const Proximity p = ExpandMarkedOperands(query, budget);
  if (const CPositionsFile* file = QueryPositions()) {
    try {
      return ProximityFromFile(*file, p, candidates, budget);
    } catch (const CPositionsDamaged& e) {
      PositionsUnusable(e.what());
    }
  }
  return ProximityFromDocuments(
      p, candidates, [this](DWORD slot, std::string& bytes) { return ReadDocument(slot, bytes); }, budget);
}
