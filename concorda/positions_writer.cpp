#include "concorda/positions_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "concorda/bytes.h"
#include "concorda/lemma_lookahead.h"
#include "concorda/lemmatizer.h"
#include "concorda/positions_format.h"
#include "concorda/suffix_index.h"
#include "concorda/word_forms.h"
#include "platform/file.h"
#include "platform/file_at.h"
#include "platform/write_behind.h"

namespace concorda {

namespace {

constexpr std::size_t kSlabSize = 2 << 20;  // a huge page
constexpr std::size_t kFirstBlock = 32;
constexpr std::size_t kLargestBlock = 4096;

}  // namespace

// --- the session's positions -------------------------------------------------

CPositionsBuilder::Block* CPositionsBuilder::NewBlock(std::size_t capacity) {
  const std::size_t bytes = offsetof(Block, data) + capacity;
  const std::size_t aligned = (bytes + 7) & ~std::size_t(7);
  BYTE* at;
  if (aligned > kSlabSize / 4) {
    // A block of its own for a word that stands very often in one document.
    m_slabs.emplace_back(aligned);
    at = m_slabs.back().data();
    // Keep filling the slab before it.
    if (m_slabs.size() >= 2) std::swap(m_slabs[m_slabs.size() - 1], m_slabs[m_slabs.size() - 2]);
  } else {
    if (m_slabs.empty() || m_slabUsed + aligned > kSlabSize) {
      m_slabs.emplace_back(kSlabSize);
      m_slabUsed = 0;
    }
    at = m_slabs.back().data() + m_slabUsed;
    m_slabUsed += aligned;
  }
  auto* b = reinterpret_cast<Block*>(at);
  b->next = nullptr;
  b->capacity = static_cast<DWORD>(capacity);
  b->used = 0;
  m_nBytes += aligned;
  return b;
}

void CPositionsBuilder::Append(WordChain& w, std::span<const BYTE> head, std::span<const BYTE> body) {
  // An entry never straddles two blocks, so the writer reads it in place.
  const std::size_t n = head.size() + body.size();
  if (!w.tail || w.tail->capacity - w.tail->used < n) {
    std::size_t capacity = w.tail ? std::min<std::size_t>(2 * w.tail->capacity, kLargestBlock) : kFirstBlock;
    capacity = std::max(capacity, n);
    Block* b = NewBlock(capacity);
    if (w.tail) w.tail->next = b;
    else w.head = b;
    w.tail = b;
  }
  BYTE* at = w.tail->data + w.tail->used;
  std::memcpy(at, head.data(), head.size());
  if (!body.empty()) std::memcpy(at + head.size(), body.data(), body.size());
  w.tail->used += static_cast<DWORD>(n);
}

void CPositionsBuilder::Add(DWORD record, const CDocPositions& doc, bool indexed) {
  if (!doc.IsCoded()) throw std::logic_error("the positions of a document were not coded before they were added");
  const DWORD session = static_cast<DWORD>(m_docOffsets.size());
  m_byRecord[record] = session;
  m_indexed.push_back(indexed);
  // The chains of all the document's words first, asking early for their
  // hash slots, then for the chains, then for the ends they grow at: those
  // lie all over memory, and their cache misses then overlap instead of
  // coming one after another.
  for (std::size_t i = 0; i < doc.WordCount(); ++i) m_byText.PrefetchSlot(doc.WordAt(i).hash);
  for (std::size_t i = 0; i < doc.WordCount(); ++i)
    if (const WordChain* w = m_byText.Probable(doc.WordAt(i).hash)) __builtin_prefetch(w);
  m_chains.clear();
  for (std::size_t i = 0; i < doc.WordCount(); ++i) {
    const CDocPositions::Word& word = doc.WordAt(i);
    WordChain* w = m_byText.Find(HashedWord{word.text, word.hash},
                                 [](const WordChain& c, std::string_view text) { return c.text == text; });
    if (!w) {
      m_words.emplace_back();
      w = &m_words.back();
      w->text = std::string(word.text);
      w->number = static_cast<DWORD>(m_words.size() - 1);
      m_byText.Insert(word.hash, w);
    } else if (w->tail) {
      __builtin_prefetch(w->tail->data + w->tail->used, 1);
    }
    m_chains.push_back(w);
  }
  for (std::size_t i = 0; i < doc.WordCount(); ++i) {
    WordChain& w = *m_chains[i];
    // The entry: the session number's step from the word's last one, the
    // length of the ordinals, the ordinals.
    const std::span<const BYTE> ordinals = doc.CodedOrdinals(doc.WordAt(i));
    m_scratch.clear();
    PutVarint(m_scratch, w.any ? session - w.lastSession : session);
    PutVarint(m_scratch, static_cast<DWORD>(ordinals.size()));
    Append(w, m_scratch, ordinals);
    w.lastSession = session;
    ++w.documents;
    w.any = true;
  }
  m_docOffsets.push_back(m_records.size());
  m_records.insert(m_records.end(), doc.Record().begin(), doc.Record().end());
}

DWORD CPositionsBuilder::Find(DWORD record) const {
  auto it = m_byRecord.find(record);
  return it == m_byRecord.end() ? kNone : it->second;
}

void CPositionsBuilder::Entries(std::size_t id, std::vector<Entry>& out) const {
  out.clear();
  DWORD session = 0;
  bool first = true;
  for (const Block* b = m_words[id].head; b; b = b->next) {
    const BYTE* p = b->data;
    const BYTE* end = b->data + b->used;
    while (p < end) {
      DWORD delta = 0, length = 0;
      GetVarint(p, end, delta);
      GetVarint(p, end, length);
      session = first ? delta : session + delta;
      first = false;
      out.push_back({session, p, length});
      p += length;
    }
  }
}

DWORD CPositionsBuilder::AppendPostingsInPlace(std::size_t id, std::vector<BYTE>& out) const {
  for (const Block* b = m_words[id].head; b; b = b->next) out.insert(out.end(), b->data, b->data + b->used);
  return m_words[id].documents;
}

std::string_view CPositionsBuilder::Record(DWORD session) const {
  const std::size_t from = m_docOffsets[session];
  const std::size_t to = session + 1 < m_docOffsets.size() ? m_docOffsets[session + 1] : m_records.size();
  return std::string_view(reinterpret_cast<const char*>(m_records.data()) + from, to - from);
}

// --- the file ----------------------------------------------------------------

namespace {

// A document of a word in the new file: its slot and its ordinal bytes.
struct NewPosting {
  DWORD slot;
  const BYTE* ordinals;
  std::size_t length;
};

class CSectionWriter {
 public:
  explicit CSectionWriter(CFile& file) : m_file(file) {}
  void Write(const BYTE* data, std::size_t n) {
    m_file.Write(data, static_cast<UINT>(n));
    m_crc = Crc32(data, n, m_crc);
    m_length += n;
    // The disk takes the section as it grows rather than all of it at the end.
    WriteBehind(m_file, m_pending, n);
  }
  void Write(const std::vector<BYTE>& bytes) { Write(bytes.data(), bytes.size()); }
  ULONGLONG Length() const { return m_length; }
  DWORD Crc() const { return m_crc; }

 private:
  CFile& m_file;
  ULONGLONG m_length = 0;
  ULONGLONG m_pending = 0;  // written since the disk was last asked to take it
  DWORD m_crc = 0;
};

}  // namespace

std::vector<std::string_view> CPositionsBuilder::WordTexts() const {
  std::vector<std::string_view> texts;
  texts.reserve(m_words.size());
  for (const WordChain& w : m_words) texts.emplace_back(w.text);
  return texts;
}

bool WritePositionsFile(const std::string& basePath, const GUID& guid, ULONGLONG stamp,
                        const std::vector<PositionsSource>& slots, const CPositionsBuilder& session,
                        const CPositionsFile* old, std::string* why, CLemmaLookahead* lemmas) {
  const std::string path = PositionsPath(basePath);
  const DWORD slotCount = static_cast<DWORD>(slots.size());
  std::vector<DWORD> sessionSlot(session.Documents(), CPositionsBuilder::kNone);
  std::vector<DWORD> oldSlot(old ? old->SlotCount() : 0, CPositionsBuilder::kNone);
  for (DWORD s = 0; s < slotCount; ++s) {
    if (slots[s].kind == PositionsSource::kSession && slots[s].number < sessionSlot.size())
      sessionSlot[slots[s].number] = s;
    else if (slots[s].kind == PositionsSource::kOld && slots[s].number < oldSlot.size())
      oldSlot[slots[s].number] = s;
  }

  // The words of both sources in one ascending order.
  std::vector<DWORD> sessionOrder(session.WordCount());
  std::iota(sessionOrder.begin(), sessionOrder.end(), 0);
  std::sort(sessionOrder.begin(), sessionOrder.end(),
            [&](DWORD a, DWORD b) { return session.WordText(a) < session.WordText(b); });
  const std::size_t oldWords = old ? old->WordCount() : 0;
  // Every document of the session in the slot of its session number (a base
  // built in one session): a word the old file does not hold is copied from
  // its chain as it stands, without decoding and coding it again.
  bool sessionInPlace = true;
  for (DWORD s = 0; s < sessionSlot.size() && sessionInPlace; ++s) sessionInPlace = sessionSlot[s] == s;

  std::optional<std::string> temporary = CreateFileBeside(path);
  if (!temporary) {
    if (why) *why = "cannot create a file beside " + path;
    return false;
  }
  struct Remove {
    std::string path;
    bool keep = false;
    ~Remove() {
      if (!keep) DeleteFileAt(path);
    }
  } cleanup{*temporary};

  try {
    CFile file(temporary->c_str(), CFile::modeCreate | CFile::modeReadWrite);
    // The word counts only where the index surely lists what the file does.
    const bool wordCounts = std::all_of(slots.begin(), slots.end(), [](const PositionsSource& s) {
      return !s.unread && (s.kind == PositionsSource::kNothing || s.indexed);
    });
    const DWORD kSections = wordCounts ? 8 : 7;
    const std::size_t headLength = kPositionsHeaderSize + kSections * kPositionsSectionEntrySize;
    std::vector<BYTE> zeros(headLength, 0);
    file.Write(zeros.data(), static_cast<UINT>(zeros.size()));

    // Section 3, the postings, word by word; the words' entries gathered on the way.
    CSectionWriter postings(file);
    std::vector<BYTE> wordEntries, wordText;
    std::vector<DWORD> textOffsets;
    std::vector<std::string> kept;  // the words written, for the word ends
    std::vector<NewPosting> merged;
    std::vector<CPositionsBuilder::Entry> fresh;
    std::vector<BYTE> oldBytes, out;
    std::size_t i = 0, j = 0;
    while (i < oldWords || j < sessionOrder.size()) {
      std::string_view word;
      int order;
      if (i == oldWords) order = 1;
      else if (j == sessionOrder.size()) order = -1;
      else order = old->Word(i).compare(session.WordText(sessionOrder[j]));
      word = order <= 0 ? old->Word(i) : session.WordText(sessionOrder[j]);
      const std::string text(word);
      out.clear();
      DWORD documents = 0;
      if (order > 0 && sessionInPlace) {
        documents = session.AppendPostingsInPlace(sessionOrder[j], out);
      } else {
        merged.clear();
        if (order <= 0) {
          old->ReadPostings(i, oldBytes);
          CPostingReader reader(oldBytes.data(), oldBytes.size());
          Posting p;
          while (reader.Next(p))
            if (p.slot < oldSlot.size() && oldSlot[p.slot] != CPositionsBuilder::kNone)
              merged.push_back({oldSlot[p.slot], p.ordinals, static_cast<std::size_t>(p.ordinalsEnd - p.ordinals)});
        }
        if (order >= 0) {
          session.Entries(sessionOrder[j], fresh);
          for (const auto& e : fresh)
            if (sessionSlot[e.session] != CPositionsBuilder::kNone)
              merged.push_back({sessionSlot[e.session], e.ordinals, e.length});
        }
        auto bySlot = [](const NewPosting& a, const NewPosting& b) { return a.slot < b.slot; };
        if (!std::is_sorted(merged.begin(), merged.end(), bySlot)) std::sort(merged.begin(), merged.end(), bySlot);
        DWORD previous = 0;
        for (std::size_t k = 0; k < merged.size(); ++k) {
          if (k > 0 && merged[k].slot == previous) continue;  // one document is never in two sources
          PutVarint(out, k == 0 ? merged[k].slot : merged[k].slot - previous);
          PutVarint(out, static_cast<DWORD>(merged[k].length));
          out.insert(out.end(), merged[k].ordinals, merged[k].ordinals + merged[k].length);
          previous = merged[k].slot;
        }
        documents = static_cast<DWORD>(merged.size());
      }
      if (order <= 0) ++i;
      if (order >= 0) ++j;
      if (documents == 0) continue;  // every document of the word is gone
      PutQword(wordEntries, postings.Length());
      PutDword(wordEntries, static_cast<DWORD>(out.size()));
      PutDword(wordEntries, documents);
      PutDword(wordEntries, Crc32(out.data(), out.size()));
      PutDword(wordEntries, 0);
      postings.Write(out);
      textOffsets.push_back(static_cast<DWORD>(wordText.size()));
      wordText.insert(wordText.end(), text.begin(), text.end());
      kept.push_back(text);
    }
    // Most of the file: on its way to the disk while the tables are made.
    file.StartFlush();
    const DWORD n = static_cast<DWORD>(kept.size());
    textOffsets.push_back(static_cast<DWORD>(wordText.size()));

    // Section 1, the words.
    std::vector<BYTE> words;
    PutDword(words, n);
    PutDword(words, static_cast<DWORD>(wordText.size()));
    words.insert(words.end(), wordEntries.begin(), wordEntries.end());
    for (DWORD offset : textOffsets) PutDword(words, offset);
    words.insert(words.end(), wordText.begin(), wordText.end());
    // Section 2, the word ends.
    std::vector<DWORD> ends(n);
    std::iota(ends.begin(), ends.end(), 0);
    std::sort(ends.begin(), ends.end(), [&](DWORD a, DWORD b) { return CompareBackwards(kept[a], kept[b]) < 0; });
    std::vector<BYTE> endBytes;
    for (DWORD w : ends) PutDword(endBytes, w);
    // Sections 6 and 7, the lemma and fold tables of the words (word_forms.h);
    // without the dictionary the lemma section is empty (the file holds no
    // lemmas, and queries match marked words as written).
    const WordList list{kept.size(), [&kept](std::size_t w) { return std::string_view(kept[w]); }};
    std::vector<BYTE> lemmaBytes;
    if (const CLemmatizer* dictionary = CLemmatizer::Shared())
      lemmaBytes = BuildLemmaSection(list, *dictionary, lemmas ? &lemmas->Wait() : nullptr);
    const std::vector<BYTE> foldBytes = BuildFoldSection(list);
    // Sections 4 and 5, the documents, and section 8, their word counts.
    std::vector<BYTE> table, records, counts;
    for (DWORD s = 0; s < slotCount; ++s) {
      const BYTE* data = nullptr;
      std::size_t length = 0;
      if (slots[s].kind == PositionsSource::kSession && slots[s].number < session.Documents()) {
        std::string_view r = session.Record(slots[s].number);
        data = reinterpret_cast<const BYTE*>(r.data());
        length = r.size();
      } else if (slots[s].kind == PositionsSource::kOld && old) {
        if (!old->DocumentBytes(slots[s].number, data, length)) length = 0;
      }
      PutQword(table, records.size());
      PutDword(table, static_cast<DWORD>(length));
      PutDword(table, length ? Crc32(data, length) : 0);
      if (length) records.insert(records.end(), data, data + length);
      // A record starts with its word count (a record that does not decode
      // was never written: the session made it, the old file checked it).
      DWORD words = 0;
      const BYTE* p = data;
      if (length && !GetVarint(p, data + length, words)) throw CPositionsDamaged("a document record does not decode");
      PutDword(counts, words);
    }

    struct Placed {
      DWORD id;
      DWORD crc;
      ULONGLONG offset, length;
    };
    std::vector<Placed> placed;
    placed.push_back({kSectionPostings, 0, headLength, postings.Length()});
    ULONGLONG at = headLength + postings.Length();
    auto put = [&](DWORD id, const std::vector<BYTE>& bytes, bool crc) {
      file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
      placed.push_back({id, crc ? Crc32(bytes.data(), bytes.size()) : 0, at, bytes.size()});
      at += bytes.size();
    };
    put(kSectionWords, words, true);
    put(kSectionWordEnds, endBytes, true);
    put(kSectionDocTable, table, true);
    put(kSectionDocRecords, records, false);
    put(kSectionLemmas, lemmaBytes, true);
    put(kSectionFolds, foldBytes, true);
    if (wordCounts) put(kSectionWordCounts, counts, true);

    std::vector<BYTE> head;
    head.insert(head.end(), kPositionsMagic, kPositionsMagic + 8);
    PutDword(head, kPositionsVersion);
    PutDword(head, kSections);
    PutDword(head, guid.Data1);
    head.push_back(static_cast<BYTE>(guid.Data2));
    head.push_back(static_cast<BYTE>(guid.Data2 >> 8));
    head.push_back(static_cast<BYTE>(guid.Data3));
    head.push_back(static_cast<BYTE>(guid.Data3 >> 8));
    head.insert(head.end(), guid.Data4, guid.Data4 + 8);
    PutQword(head, stamp);
    PutDword(head, slotCount);
    PutDword(head, 0);  // flags
    PutQword(head, at);
    PutDword(head, 0);
    std::vector<BYTE> sectionTable;
    for (const Placed& p : placed) {
      PutDword(sectionTable, p.id);
      PutDword(sectionTable, p.crc);
      PutQword(sectionTable, p.offset);
      PutQword(sectionTable, p.length);
    }
    PutDword(head, Crc32(sectionTable.data(), sectionTable.size(), Crc32(head.data(), head.size())));
    head.insert(head.end(), sectionTable.begin(), sectionTable.end());
    file.Seek(0, CFile::begin);
    file.Write(head.data(), static_cast<UINT>(head.size()));
    file.Close();
  } catch (const CException& e) {
    if (why) *why = e.GetErrorMessage();
    return false;
  }
  // Made private to this account, as every temporary file is: a server
  // running under another account than the editor who built the base would
  // not be let read it, and would answer every phrase from the documents.
  // Should the base's access not be given (it cannot be, when the base is
  // gone meanwhile), the file is still of use to this account.
  TakeAccessOf(basePath, *temporary);
  if (!ReplaceWith(*temporary, path)) {
    if (why) *why = "cannot put the new file in place of " + path;
    return false;
  }
  cleanup.keep = true;
  return true;
}

}  // namespace concorda
