// Start-up of the catalogue of document bases: building the table of acts
// from the documents (no cache file) against loading it from its cache, on
// the same bases in the same run, with the opening of the bases alone (no
// table) as the floor both include.
//
//   biblion_bench [--docs 24000] [--bases 3] [--rounds 5] [--dir /tmp] [--indexed]
//
// The documents come from the corpus generator (names "D" + year + position,
// titles citing Dz.U.). Bases are plain containers unless --indexed asks for
// indexed ones (much slower to prepare; the catalogue opens both alike); both
// are compacted, as bases are before they go on the site.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/corpus_gen.h"
#include "biblion/srv_srv.h"
#include "concorda/doc_server.h"
#include "platform/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// One catalogue start over the registered bases; the time of Init.
double Start(bool noTable, bool expectCache, std::size_t& entries) {
  CSrvSrv cat;
  cat.m_bNoTable = noTable ? TRUE : FALSE;
  auto t0 = Clock::now();
  if (!cat.Init(nullptr)) {
    std::fprintf(stderr, "biblion_bench: the catalogue did not open\n");
    std::exit(1);
  }
  auto t1 = Clock::now();
  if (!noTable && cat.TableFromCache() != expectCache) {
    std::fprintf(stderr, "biblion_bench: the table was %s, not %s\n", cat.TableFromCache() ? "loaded" : "built",
                 expectCache ? "loaded" : "built");
    std::exit(1);
  }
  entries = cat.GetActEntries().size();
  return Millis(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t docs = 24000, bases = 3;
  int rounds = 5;
  bool indexed = false;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--indexed")) indexed = true;
    else if (i + 1 < argc && !std::strcmp(argv[i], "--docs")) docs = std::strtoul(argv[++i], nullptr, 10);
    else if (i + 1 < argc && !std::strcmp(argv[i], "--bases")) bases = std::strtoul(argv[++i], nullptr, 10);
    else if (i + 1 < argc && !std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[++i]);
    else if (i + 1 < argc && !std::strcmp(argv[i], "--dir")) dir = argv[++i];
  }
  bases = std::max<std::size_t>(1, bases);
  rounds = std::max(1, rounds);
  if (docs / bases >= 0x10000) {
    std::fprintf(stderr, "biblion_bench: at most 65536 documents per base\n");
    return 1;
  }
  bench::CorpusGenerator gen;
  if (!gen.Loaded()) {
    std::fprintf(stderr, "biblion_bench: no corpus in %s\n", bench::CorpusGenerator::DefaultCorpusDir().c_str());
    return 1;
  }
  std::string work = dir + "/biblion_bench";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);

  // --- the bases ---
  auto p0 = Clock::now();
  std::vector<std::string> paths;
  std::size_t bytes = 0;
  for (std::size_t b = 0; b < bases; ++b) {
    std::string path = work + "/base" + std::to_string(b) + ".vq";
    GUID guid = NewGuid();
    CDocServer indexedBase;
    CFileServer plainBase;
    CFileServer& base = indexed ? indexedBase : plainBase;
    base.Init(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite);
    for (std::size_t i = b * docs / bases; i < (b + 1) * docs / bases; ++i) {
      bench::GeneratedDoc d = gen.Make(i);
      bytes += d.html.size();
      CMemFile src(4096);
      src.Write(d.html.data(), static_cast<UINT>(d.html.size()));
      src.SeekToBegin();
      _FILEITEM* item = MakeFileItem(("DU\\" + d.name).c_str());
      if (indexed)
        indexedBase.AddFile(src, item, d.keys.c_str(), 2);
      else
        plainBase.AddFile(src, item, 2);
      CFileServer::FreeFileItem(item);
    }
    // Bases go on the site compacted (contiguous slot table, index written
    // for the final numbering), as the base tool leaves them after "compact".
    base.Compact();
    base.Close();
    paths.push_back(path);
  }
  auto p1 = Clock::now();
  CRegistry reg;
  const std::string key = std::string(CSrvSrv::kRegistryKey) + "\\biblion";
  for (std::size_t b = 0; b < paths.size(); ++b) reg.SetString(key, std::to_string(b + 1), paths[b]);
  const std::string registry = work + "/registry.reg";
  std::ofstream(registry, std::ios::binary) << reg.Serialize();
  ::setenv("VAMU_REGISTRY", registry.c_str(), 1);
  std::printf("bases: %zu %s, %zu documents, %.1f MB of HTML (prepared in %.1f s)\n", bases,
              indexed ? "indexed" : "plain", docs, bytes / 1e6, Millis(p0, p1) / 1000);

  // --- start-ups: opening only, building (cache removed), loading ---
  // The bases were just written: age them so that the cache written next is
  // plainly newer than every base.
  for (const auto& p : paths)
    std::filesystem::last_write_time(p, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
  const std::string cache = work + "/biblion.itt";
  std::vector<double> open, build, load;
  std::size_t entries = 0, loaded = 0;
  for (int r = 0; r < rounds; ++r) {
    std::filesystem::remove(cache);
    build.push_back(Start(false, false, entries));
    load.push_back(Start(false, true, loaded));
    std::size_t none = 0;
    open.push_back(Start(true, false, none));
  }
  if (loaded != entries) {
    std::fprintf(stderr, "biblion_bench: loaded %zu entries, built %zu\n", loaded, entries);
    return 1;
  }
  const double o = Median(open), b = Median(build), l = Median(load);
  std::printf("table of acts: %zu entries, cache file %ju bytes\n", entries,
              static_cast<std::uintmax_t>(std::filesystem::file_size(cache)));
  std::printf("start-up, median of %d: open bases only %.2f ms, build (no cache) %.2f ms, load (cache) %.2f ms\n",
              rounds, o, b, l);
  std::printf("cached start is %.1fx faster than a build (target: 20x); fastest: build %.2f ms, load %.2f ms\n",
              b / l, *std::min_element(build.begin(), build.end()), *std::min_element(load.begin(), load.end()));
  std::filesystem::remove_all(work);
  return 0;
}
