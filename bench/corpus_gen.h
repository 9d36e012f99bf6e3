// The documents the benchmarks store and index: the synthetic corpus of
// demo/synthetic.h (acts, versions, rulings and rulings lists in the markup
// and naming of the demo bases, made from the real texts of demo/corpus),
// any number of them, the same for the same number.
#pragma once

#include <cstddef>
#include <string>

#include "demo/synthetic.h"

namespace bench {

struct GeneratedDoc {
  std::string name;  // item name, e.g. "D60001D60001.HTM" (act + version), "O6000000.HTM" (ruling)
  std::string html;  // windows-1250 HTML; act titles cite the act ("Dz.U.60.1.1 - ...")
  std::string keys;  // key string of the document, ';'-separated
};

class CorpusGenerator {
 public:
  // Loads the acts and rulings of corpusDir.
  explicit CorpusGenerator(const std::string& corpusDir = DefaultCorpusDir()) : m_corpus(corpusDir) {}
  bool Loaded() const { return m_corpus.Loaded(); }
  std::size_t ArticleCount() const { return m_corpus.ArticleCount(); }
  // Document number i of the synthetic stream.
  GeneratedDoc Make(std::size_t i) const;

  // $VAMU_CORPUS, else the repository's demo/corpus.
  static std::string DefaultCorpusDir() { return vamucorpus::SyntheticCorpus::DefaultCorpusDir(); }

 private:
  vamucorpus::SyntheticCorpus m_corpus;
};

}  // namespace bench
