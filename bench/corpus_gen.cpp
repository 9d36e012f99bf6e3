#include "bench/corpus_gen.h"

namespace bench {

GeneratedDoc CorpusGenerator::Make(std::size_t i) const {
  vamucorpus::Document d = m_corpus.Make(i);
  return {std::move(d.name), std::move(d.data), std::move(d.keys)};
}

}  // namespace bench
