// vamugen: writes the synthetic corpus (any number of documents) in the
// layout vamudemo writes, for benchmarks and load tests:
//   vamugen --count 60000 --out /tmp/synth
//   vamubase build -q --keys /tmp/synth/keys.txt acts.vq /tmp/synth/acts
//   vamubase build -q --keys /tmp/synth/keys.txt rulings.vq /tmp/synth/rulings
// The catalogue addresses 65536 items of a base: larger corpora go into
// several bases, one per range of the stream (--first 60000 --count 60000 ...).
// Names sort so that each act's versions come after its first text.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "demo/synthetic.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vamugen [--first I] --count N --out DIR [--corpus DIR]\n"
               "Writes the synthetic documents I..I+N-1 (acts, versions, rulings, rulings lists)\n"
               "into DIR/acts and DIR/rulings, and their keys into DIR/keys.txt. A base shows\n"
               "the catalogue at most 65536 items: build larger corpora as several bases.\n");
  return 2;
}

bool Write(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return (std::fclose(f) == 0) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, corpus = vamucorpus::SyntheticCorpus::DefaultCorpusDir();
  long long count = -1, first = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--count") && i + 1 < argc) count = std::atoll(argv[++i]);
    else if (!std::strcmp(argv[i], "--first") && i + 1 < argc) first = std::atoll(argv[++i]);
    else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
    else if (!std::strcmp(argv[i], "--corpus") && i + 1 < argc) corpus = argv[++i];
    else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return Usage(), 0;
    else return Usage();
  }
  if (count < 0 || first < 0 || out.empty()) return Usage();
  vamucorpus::SyntheticCorpus gen(corpus);
  if (!gen.Loaded()) {
    std::fprintf(stderr, "vamugen: no acts in %s/acts\n", corpus.c_str());
    return 1;
  }
  for (const char* sub : {"", "/acts", "/rulings"}) {
    std::string d = out + sub;
    if (::mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) {
      std::fprintf(stderr, "vamugen: cannot create %s: %s\n", d.c_str(), std::strerror(errno));
      return 1;
    }
  }
  FILE* keys = std::fopen((out + "/keys.txt").c_str(), "wb");
  if (!keys) {
    std::fprintf(stderr, "vamugen: cannot write %s/keys.txt\n", out.c_str());
    return 1;
  }
  unsigned long long bytes = 0;
  for (long long i = first; i < first + count; ++i) {
    vamucorpus::Document d = gen.Make(static_cast<std::size_t>(i));
    std::string path = out + "/" + vamucorpus::SyntheticCorpus::BaseOf(static_cast<std::size_t>(i)) + "/" + d.name;
    if (!Write(path, d.data)) {
      std::fprintf(stderr, "vamugen: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
    if (!d.keys.empty()) std::fprintf(keys, "%s\t%s\n", d.name.c_str(), d.keys.c_str());
    bytes += d.data.size();
  }
  if (std::fclose(keys) != 0) return 1;
  std::printf("vamugen: %lld documents, %.1f MB, in %s\n", count, bytes / 1e6, out.c_str());
  return 0;
}
