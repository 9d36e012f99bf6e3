#include "concorda/lemmatizer.h"

#include <hunspell.hxx>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "platform/cp1250.h"
#include "platform/message_box.h"

namespace concorda {

namespace {

// windows-1250 letters and digits into the dictionary's ISO-8859-2; false
// when a byte has no place there (µ) or is no letter or digit.
bool ToDictionary(std::string_view word, std::string& out) {
  out.resize(word.size());
  for (std::size_t i = 0; i < word.size(); ++i) {
    unsigned char c = cp1250::kToIso88592[static_cast<unsigned char>(word[i])];
    if (c == 0) return false;
    out[i] = static_cast<char>(c);
  }
  return true;
}

// A lemma back in upper-case windows-1250; false when it holds anything but
// letters (a digit, an apostrophe, a hyphen, a blank).
bool FromDictionary(const std::string& lemma, std::string& out) {
  out.resize(lemma.size());
  for (std::size_t i = 0; i < lemma.size(); ++i) {
    unsigned char c = cp1250::kFromIso88592[static_cast<unsigned char>(lemma[i])];
    if (c == 0 || !cp1250::IsAlpha(c)) return false;
    out[i] = static_cast<char>(cp1250::ToUpper(c));
  }
  return !out.empty();
}

bool Readable(const std::string& path, long long& size) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<long long>(st.st_size);
  return true;
}

}  // namespace

CLemmatizer::~CLemmatizer() = default;

std::unique_ptr<CLemmatizer> CLemmatizer::Open(const std::string& dir, std::string* why) {
  const std::string aff = dir + "/pl_PL.aff";
  const std::string dic = dir + "/pl_PL.dic";
  long long affSize = 0, dicSize = 0;
  // Hunspell itself would only print a warning and know no words.
  for (const std::string* path : {&aff, &dic}) {
    if (!Readable(*path, *path == aff ? affSize : dicSize)) {
      if (why) *why = *path + ": cannot be read (package hunspell-pl)";
      return nullptr;
    }
  }
  std::unique_ptr<CLemmatizer> l(new CLemmatizer);
  l->m_dict = std::make_unique<Hunspell>(aff.c_str(), dic.c_str());
  l->m_strIdentity = "pl_PL " + std::to_string(affSize) + " " + std::to_string(dicSize);
  return l;
}

const CLemmatizer* CLemmatizer::Shared() {
  // Opened once and kept for the life of the process, never freed: freeing
  // the dictionary's hundreds of thousands of small entries at exit took a
  // tenth of a second of every base command, for memory the system takes
  // back at once anyway.
  static const CLemmatizer* const shared = [] {
    const char* env = std::getenv("VAMU_HUNSPELL_DIR");
    std::string why;
    std::unique_ptr<CLemmatizer> l = Open(env && *env ? env : "/usr/share/hunspell", &why);
    if (!l) MessageBox(why + "; words are matched as written, without their other forms", "Lemmatizer");
    return l.release();
  }();
  return shared;
}

std::vector<std::string> CLemmatizer::Lemmas(std::string_view word) const {
  std::vector<std::string> out;
  if (word.empty() || word.size() > kMaxLemmaWord) return out;
  if (std::any_of(word.begin(), word.end(), [](char c) { return cp1250::IsDigit(static_cast<unsigned char>(c)); }))
    return out;
  std::string iso;
  if (!ToDictionary(word, iso)) return out;
  std::vector<std::string> stems;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    stems = m_dict->stem(iso);
  }
  std::string lemma;
  for (const std::string& s : stems)
    if (FromDictionary(s, lemma)) out.push_back(lemma);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace concorda
