// The lemmas of a base's words, looked up on a second thread while the
// caller does other work. Closing a base writes its index files and then its
// positions file, whose lemma table asks the dictionary for every word of
// the file (about 8 µs a word: half a second for 50,000 words, with the
// dictionary's opening on top). Started before the index files are written,
// the lookups run on another core meanwhile. The table comes out the same
// either way: a word not looked up here is asked of the dictionary when the
// table is built (BuildLemmaSection).
//
//   CLemmaLookahead ahead(session.WordTexts());
//   WriteSystemFiles();                          // meanwhile, on another thread
//   BuildLemmaSection(list, *dictionary, &ahead.Wait());
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "concorda/word_forms.h"

namespace concorda {

class CLemmaLookahead {
 public:
  // Copies the words and starts looking them up (with CLemmatizer::Shared).
  explicit CLemmaLookahead(const std::vector<std::string_view>& words);
  // Stops the lookups that have not begun and waits for the thread.
  ~CLemmaLookahead();
  CLemmaLookahead(const CLemmaLookahead&) = delete;
  CLemmaLookahead& operator=(const CLemmaLookahead&) = delete;

  // Waits for the lookups; then the lemmas of every word, by word. Empty
  // when there is no dictionary, the thread could not start or a lookup
  // failed (memory): the table then asks the dictionary itself.
  const KnownLemmas& Wait();

 private:
  void LookUp();

  std::string m_text;                  // the words, one after the other
  std::vector<std::string_view> m_words;  // into m_text
  KnownLemmas m_known;                 // written by the thread, read after the join
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace concorda
