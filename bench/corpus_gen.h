// Synthetic but well-formed documents made from the real act texts in
// demo/corpus (windows-1250): any number of them, the same for the same
// number, for benchmarks that need bases far larger than the corpus.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct GeneratedDoc {
  std::string name;  // item name, e.g. "D970483.HTM" (journal letter, year, position)
  std::string html;  // windows-1250 HTML with a title that cites the act
  std::string keys;  // key string of the document, ';'-separated
};

class CorpusGenerator {
 public:
  // Loads every act text of corpusDir/acts.
  explicit CorpusGenerator(const std::string& corpusDir = DefaultCorpusDir());
  bool Loaded() const { return !m_articles.empty(); }
  std::size_t ArticleCount() const { return m_articles.size(); }
  // Document number i: a run of consecutive articles of one act, as HTML.
  GeneratedDoc Make(std::size_t i) const;

  // $VAMU_CORPUS, else the repository's demo/corpus.
  static std::string DefaultCorpusDir();

 private:
  struct Article {
    std::size_t act;
    std::string text;  // "Art. N." and its units, one unit per line
  };
  std::vector<std::string> m_titles;  // one per act
  std::vector<Article> m_articles;
};

}  // namespace bench
