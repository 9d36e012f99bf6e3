#include "concorda/word_map.h"

#include <cstring>

#include "concorda/word_tokenizer.h"

namespace concorda {

namespace {

DWORD HashWord(const char* p, std::size_t n) {
  DWORD h = 2166136261u;  // FNV-1a
  for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
  return h;
}

}  // namespace

void CWordMap::Add(const char* word, std::size_t length, bool stable) {
  if (m_slots.empty() || 2 * (m_used.size() + 1) > m_slots.size()) Grow();
  const DWORD hash = HashWord(word, length);
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& s = m_slots[i];
    if (!s.word) {
      if (!stable) word = m_copies.emplace_back(word, length).data();
      s = Slot{word, static_cast<DWORD>(length), hash, 1};
      m_used.push_back(static_cast<DWORD>(i));
      return;
    }
    if (s.hash == hash && s.length == length && std::memcmp(s.word, word, length) == 0) {
      ++s.count;
      return;
    }
  }
}

void CWordMap::Grow() {
  std::vector<Slot> old;
  old.swap(m_slots);
  m_slots.assign(old.empty() ? 1024 : 2 * old.size(), Slot{});
  const std::size_t mask = m_slots.size() - 1;
  std::vector<DWORD> used;
  used.reserve(m_used.size());
  for (DWORD k : m_used) {
    std::size_t i = old[k].hash & mask;
    while (m_slots[i].word) i = (i + 1) & mask;
    m_slots[i] = old[k];
    used.push_back(static_cast<DWORD>(i));
  }
  m_used.swap(used);
}

std::vector<std::pair<std::string_view, DWORD>> CWordMap::Admitted() const {
  std::vector<std::pair<std::string_view, DWORD>> out;
  out.reserve(m_used.size());
  for (DWORD k : m_used) {
    std::string_view w(m_slots[k].word, m_slots[k].length);
    if (IsAdmitted(w)) out.emplace_back(w, m_slots[k].count);
  }
  return out;
}

void CWordMap::Clear() {
  for (DWORD k : m_used) m_slots[k] = Slot{};
  m_used.clear();
  m_copies.clear();
}

CWordMap& ProcessWordMap() {
  static CWordMap map;
  return map;
}

CMutex& IndexingMutex() {
  static CMutex mutex;
  return mutex;
}

}  // namespace concorda
