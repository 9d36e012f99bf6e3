#include "concorda/word_index.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/exceptions.h"

namespace concorda {

namespace {

constexpr std::size_t kTableStep = 8192;

std::size_t PlainCapacity(std::size_t count) {
  std::size_t cap = 2;
  while (cap < count) cap <<= 1;
  return cap;
}

// Builds the storage for `count` (>= 1) topics into `w` (which holds none),
// copied from `topics`, or left to be written when that is null.
bool BuildStorage(WordIndex& w, const DWORD* topics, std::size_t count) {
  if (count == 1) {
    w.m_dwTopic = topics ? topics[0] : 0;
    w.m_nCount = 1;
    return true;
  }
  if (count < kGrowableForm) {
    auto* p = static_cast<DWORD*>(std::malloc(PlainCapacity(count) * sizeof(DWORD)));
    if (!p) {
      throw CMemoryException();
    }
    if (topics) std::memcpy(p, topics, count * sizeof(DWORD));
    w.m_pdwTopic = p;
    w.m_nCount = static_cast<BYTE>(count);
    return true;
  }
  auto* a = new (std::nothrow) std::vector<DWORD>();
  if (!a) {
    throw CMemoryException();
  }
  try {
    if (topics) a->assign(topics, topics + count);
    else a->resize(count);
  } catch (const std::bad_alloc&) {
    delete a;
    throw CMemoryException();
  }
  w.m_paTopic = a;
  w.m_nCount = kGrowableForm;
  return true;
}

}  // namespace

DWORD TopicCount(const WordIndex& w) {
  if (w.m_nCount == kGrowableForm) return static_cast<DWORD>(w.m_paTopic->size());
  return w.m_nCount;
}

const DWORD* TopicData(const WordIndex& w) {
  switch (w.m_nCount) {
    case 0: return nullptr;
    case 1: return &w.m_dwTopic;
    case kGrowableForm: return w.m_paTopic->data();
    default: return w.m_pdwTopic;
  }
}

void FreeTopics(WordIndex& w, DWORD ref) {
  if (w.m_nCount == kGrowableForm) delete w.m_paTopic;
  else if (w.m_nCount >= 2) std::free(w.m_pdwTopic);
  w.m_pdwTopic = nullptr;
  w.m_nCount = 0;
  w.m_dwRef = ref;
}

bool AssignTopics(WordIndex& w, const DWORD* topics, std::size_t count, DWORD ref) {
  if (count == 0) {
    FreeTopics(w, ref);
    return true;
  }
  WordIndex fresh;
  if (!BuildStorage(fresh, topics, count)) return false;
  FreeTopics(w, 0);
  w.m_nCount = fresh.m_nCount;
  if (fresh.m_nCount == 1) w.m_dwTopic = fresh.m_dwTopic;
  else if (fresh.m_nCount == kGrowableForm) w.m_paTopic = fresh.m_paTopic;
  else w.m_pdwTopic = fresh.m_pdwTopic;
  return true;
}

DWORD* MakeTopicRoom(WordIndex& w, std::size_t count) {
  FreeTopics(w, 0);
  BuildStorage(w, nullptr, count);
  return const_cast<DWORD*>(TopicData(w));
}

bool InsertTopic(WordIndex& w, std::size_t pos, DWORD t) {
  DWORD c = TopicCount(w);
  if (c == 0) return AssignTopics(w, &t, 1);
  if (c == 1) {
    DWORD pair[2] = {w.m_dwTopic, w.m_dwTopic};
    pair[pos == 0 ? 0 : 1] = t;
    return AssignTopics(w, pair, 2);
  }
  if (w.m_nCount == kGrowableForm) {
    try {
      w.m_paTopic->insert(w.m_paTopic->begin() + static_cast<std::ptrdiff_t>(pos), t);
    } catch (const std::bad_alloc&) {
      throw CMemoryException();
    }
    return true;
  }
  if (c == kGrowableForm - 1) {  // 254 topics: the next one needs the growable form
    auto* a = new (std::nothrow) std::vector<DWORD>();
    if (!a) {
      throw CMemoryException();
    }
    try {
      a->reserve(c + 1);
      a->assign(w.m_pdwTopic, w.m_pdwTopic + c);
      a->insert(a->begin() + static_cast<std::ptrdiff_t>(pos), t);
    } catch (const std::bad_alloc&) {
      delete a;
      throw CMemoryException();
    }
    std::free(w.m_pdwTopic);
    w.m_paTopic = a;
    w.m_nCount = kGrowableForm;
    return true;
  }
  if ((c & (c - 1)) == 0) {  // a power of two: the plain array is full
    auto* p = static_cast<DWORD*>(std::realloc(w.m_pdwTopic, 2 * c * sizeof(DWORD)));
    if (!p) {
      throw CMemoryException();
    }
    w.m_pdwTopic = p;
  }
  std::memmove(w.m_pdwTopic + pos + 1, w.m_pdwTopic + pos, (c - pos) * sizeof(DWORD));
  w.m_pdwTopic[pos] = t;
  w.m_nCount = static_cast<BYTE>(c + 1);
  return true;
}

std::size_t TopicLowerBound(const WordIndex& w, DWORD item) {
  const DWORD* p = TopicData(w);
  DWORD c = TopicCount(w);
  // Topics of a new document usually go to the end: test that first.
  if (c == 0 || TopicItem(p[c - 1]) < item) return c;
  return static_cast<std::size_t>(
      std::lower_bound(p, p + c, item, [](DWORD t, DWORD x) { return TopicItem(t) < x; }) - p);
}

// ---------------------------------------------------------------------------

std::size_t CWordTable::LowerBound(const char* word, std::size_t from) const {
  auto it = std::lower_bound(m_a.begin() + static_cast<std::ptrdiff_t>(std::min(from, m_a.size())), m_a.end(),
                             word, [](const WordIndex* w, const char* x) { return std::strcmp(w->m_pWord, x) < 0; });
  return static_cast<std::size_t>(it - m_a.begin());
}

std::size_t CWordTable::Find(const char* word) const {
  std::size_t i = LowerBound(word);
  return i < m_a.size() && std::strcmp(m_a[i]->m_pWord, word) == 0 ? i : npos;
}

namespace {

bool HoldsWord(const WordIndex& w, std::string_view text) {
  return std::strncmp(w.m_pWord, text.data(), text.size()) == 0 && w.m_pWord[text.size()] == '\0';
}

}  // namespace

WordIndex* CWordTable::Lookup(const HashedWord& word) {
  if (m_bOwnsWords) return m_index.Find(word, HoldsWord);
  std::string w(word.text);
  std::size_t i = Find(w.c_str());
  return i == npos ? nullptr : m_a[i];
}

void CWordTable::SetOwnsWords(bool owns) {
  m_bOwnsWords = owns;
  if (!owns) m_index.Clear();
}

WordIndex* CWordTable::NewRecord(const WordIndex& w) {
  WordIndex* r;
  if (!m_free.empty()) {
    r = m_free.back();
    m_free.pop_back();
  } else {
    if (m_chunks.empty() || m_nChunkUsed == kTableStep) {
      m_chunks.emplace_back(new WordIndex[kTableStep]);
      m_nChunkUsed = 0;
    }
    r = &m_chunks.back()[m_nChunkUsed++];
  }
  *r = w;
  if (m_bOwnsWords && r->m_pWord) m_index.Insert(WordHash(r->m_pWord), r);
  return r;
}

void CWordTable::FreeRecord(WordIndex* w) {
  FreeTopics(*w, 0);
  if (m_bOwnsWords && w->m_pWord) {
    m_index.Erase(WordHash(w->m_pWord), w);
    std::free(w->m_pWord);
  }
  w->m_pWord = nullptr;
  m_free.push_back(w);
}

void CWordTable::InsertSorted(std::vector<std::pair<std::size_t, WordIndex>>& added) {
  if (added.empty()) return;
  std::size_t oldSize = m_a.size();
  m_a.resize(oldSize + added.size());
  // Merge from the back: each old pointer moves once.
  std::size_t src = oldSize;
  std::size_t dst = m_a.size();
  for (std::size_t k = added.size(); k-- > 0;) {
    std::size_t pos = added[k].first;
    while (src > pos) m_a[--dst] = m_a[--src];
    m_a[--dst] = NewRecord(added[k].second);
  }
}

void CWordTable::RemoveMarked(const std::vector<bool>& dead) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < m_a.size(); ++i) {
    if (i < dead.size() && dead[i]) {
      FreeRecord(m_a[i]);
      continue;
    }
    m_a[out++] = m_a[i];
  }
  m_a.resize(out);
}

void CWordTable::Clear() {
  for (WordIndex* w : m_a) {
    FreeTopics(*w, 0);
    if (m_bOwnsWords) std::free(w->m_pWord);
  }
  m_a.clear();
  m_a.shrink_to_fit();
  m_index.Clear();
  m_free.clear();
  m_chunks.clear();
  m_nChunkUsed = 0;
}

}  // namespace concorda
