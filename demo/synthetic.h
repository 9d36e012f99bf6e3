// The synthetic corpus: any number of well-formed acts, versions, rulings and
// rulings lists, in the markup and naming of the demo bases, made from the
// articles, titles and ruling texts of demo/corpus. Document i is the same
// for every run and every count, so benchmarks and load tests can rebuild
// the same bases. Used by vamugen and, through bench/corpus_gen.h, by the
// benchmarks.
//
// The stream comes in blocks of eight documents: the first texts of five
// acts, a version of the first of them after an amendment by the fifth, a
// ruling on three of them (and on one act of the block before), and the
// rulings list of the first. Acts of one block share a related-acts key.
// Acts are numbered by journal ("Dz.U."; every tenth "M.P."), year from 1960
// on and position 1..2000, 20 positions to a journal number: names stay
// unique up to 200,000 acts (320,000 documents) and repeat after that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "demo/act_name.h"
#include "demo/doc_markup.h"

namespace vamucorpus {

class SyntheticCorpus {
 public:
  // Reads the acts and rulings of corpusDir (acts/ and rulings/).
  explicit SyntheticCorpus(const std::string& corpusDir = DefaultCorpusDir());
  // False when the corpus had no act: Make then returns empty documents.
  bool Loaded() const { return !m_articles.empty(); }
  std::size_t ArticleCount() const { return m_articles.size(); }

  // Document number i of the stream.
  Document Make(std::size_t i) const;
  // The base document i belongs in: "rulings" for rulings, else "acts".
  static const char* BaseOf(std::size_t i);
  // The act numbered a (0, 1, ...) in the stream.
  static ActRef ActOf(std::size_t a);

  // $VAMU_CORPUS, else the repository's demo/corpus.
  static std::string DefaultCorpusDir();

 private:
  struct Article {
    std::vector<std::string> lines;  // units, the first on the heading's line
  };
  struct Plan {
    ActRef ref;
    std::string title;
    std::size_t first = 0;  // first article of the run in m_articles
    std::size_t count = 0;  // articles of the act
  };
  Plan PlanOf(std::size_t a) const;
  ActText TextOf(const Plan& plan) const;
  RulingDoc Ruling(std::size_t block) const;
  std::vector<std::string> Places(const Plan& plan, std::uint64_t seed, std::vector<std::string>* cited) const;

  std::vector<Article> m_articles;
  std::vector<std::string> m_subjects;      // "o ochronie konkurencji", chapter titles
  std::vector<std::string> m_rulingLines;   // sentences of the real rulings
};

}  // namespace vamucorpus
