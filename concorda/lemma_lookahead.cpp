#include "concorda/lemma_lookahead.h"

#include <system_error>

#include "concorda/lemmatizer.h"

namespace concorda {

CLemmaLookahead::CLemmaLookahead(const std::vector<std::string_view>& words) {
  std::size_t bytes = 0;
  for (std::string_view w : words) bytes += w.size();
  m_text.reserve(bytes);
  for (std::string_view w : words) m_text.append(w);
  m_words.reserve(words.size());
  std::size_t at = 0;
  for (std::string_view w : words) {
    m_words.emplace_back(m_text.data() + at, w.size());
    at += w.size();
  }
  try {
    m_thread = std::thread([this] { LookUp(); });
  } catch (const std::system_error&) {
    // No thread to be had: the table asks the dictionary word by word.
  }
}

CLemmaLookahead::~CLemmaLookahead() {
  m_stop.store(true);
  if (m_thread.joinable()) m_thread.join();
}

const KnownLemmas& CLemmaLookahead::Wait() {
  if (m_thread.joinable()) m_thread.join();
  return m_known;
}

void CLemmaLookahead::LookUp() {
  try {
    const CLemmatizer* dictionary = CLemmatizer::Shared();
    if (!dictionary) return;
    KnownLemmas known;
    known.reserve(m_words.size());
    for (std::string_view w : m_words) {
      if (m_stop.load(std::memory_order_relaxed)) return;
      known.emplace(w, dictionary->Lemmas(w));
    }
    m_known = std::move(known);
  } catch (const std::exception&) {
    // Out of memory: nothing is kept, the table asks the dictionary itself.
  }
}

}  // namespace concorda
