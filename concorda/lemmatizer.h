// The lemmas of Polish words, from the Polish spelling dictionary of
// Hunspell (Debian hunspell-pl, read with libhunspell). The index asks it for
// the lemmas of every word of a base when it writes the lemma table
// (word_forms.h), and a query word marked for all its forms ("~umowa") is
// asked the same way, so both sides agree as long as they use one dictionary.
//
//   const CLemmatizer* dict = CLemmatizer::Shared();
//   if (dict) for (const std::string& lemma : dict->Lemmas("UMOWY")) ...;  // "UMOWA", "UMOWY"
//
// Words and lemmas are upper-case windows-1250, as the word table holds
// them. A word the dictionary does not know has no lemmas; so has a word
// with a digit (numbers and signatures are not inflected), a word longer
// than kMaxLemmaWord bytes and a word with a letter the dictionary's code
// page lacks (µ). Lemmas that are not made of letters only ("o'clock") are
// left out: no word of the index could match them.
//
// Threads: Lemmas may be called from any number of threads; the dictionary
// object is not reentrant, so each call takes a mutex (about 20 µs a word).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class Hunspell;

namespace concorda {

// Longer words are not looked up (the dictionary's own limit is 100 bytes).
constexpr std::size_t kMaxLemmaWord = 64;

class CLemmatizer {
 public:
  ~CLemmatizer();
  CLemmatizer(const CLemmatizer&) = delete;
  CLemmatizer& operator=(const CLemmatizer&) = delete;

  // Opens the dictionary dir/pl_PL.aff and dir/pl_PL.dic. Null when either
  // cannot be read, *why (when given) saying which.
  static std::unique_ptr<CLemmatizer> Open(const std::string& dir, std::string* why = nullptr);

  // The dictionary of the process: $VAMU_HUNSPELL_DIR, else
  // /usr/share/hunspell. Opened on the first call (about 0.2 s); null when
  // it cannot be, and then a message says so once. Owned by the process.
  static const CLemmatizer* Shared();

  // The lemmas of an upper-case word, upper-case, ascending, each once.
  std::vector<std::string> Lemmas(std::string_view word) const;

  // What identifies the dictionary: the byte lengths of its two files.
  const std::string& Identity() const { return m_strIdentity; }

 private:
  CLemmatizer() = default;

  std::unique_ptr<Hunspell> m_dict;
  std::string m_strIdentity;
  mutable std::mutex m_mutex;
};

}  // namespace concorda
