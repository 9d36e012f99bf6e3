// The word index against SQLite FTS5 on the same generated documents and the
// same queries, in the same run: index build throughput, query latency by
// class (single words, "I", "NIE", prefix wildcard, phrase), size on disk.
//
//   concorda_bench [--docs 20000] [--runs 40] [--dir /tmp] [--jobs CORES] [--keep]
//                  [--reuse] [--class phrase] [--samples] [--build-rounds 3]
//
// --keep leaves the base and the FTS5 databases in DIR; --reuse queries the
// ones kept there (made with the same --docs) instead of building them,
// --class runs the queries of one class only (for profiling a class), and
// --samples prints every run's CPU milliseconds (what a p99 is made of).
// The base with its documents compressed and the FTS5 table with its content
// are built --build-rounds times, taking turns (ours, FTS5, ours ...): a
// busy spell of another program on the machine lasts seconds and would
// otherwise fall on one side's only build. Each side's fastest round is
// reported, and every round's ratio.
//
// Both sides store the documents with their index (a base holds its documents
// zlib-compressed, FTS5 its content table); FTS5 also builds a contentless
// table, whose size is its index alone. FTS5 gets the documents in UTF-8 (its
// tokenizer's encoding; converted before timing) with case folding and without
// diacritic removal, so that both sides find the same words.
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpus_gen.h"
#include "concorda/doc_server.h"
#include "concorda/document_batch.h"
#include "concorda/prepared_document.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// CPU time of this thread: the machine may be shared, and wall-clock times
// then measure the neighbours too. Both are reported.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Wall and CPU seconds of one piece of work.
struct Timing {
  double wall = 0, cpu = 0;
};
template <class F>
Timing Time(F work) {
  auto w = Clock::now();
  double c = CpuSeconds();
  work();
  return Timing{Seconds(w, Clock::now()), CpuSeconds() - c};
}

// windows-1250 bytes 0x80-0xFF as Unicode code points.
const unsigned short kCp1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

std::string ToUtf8(const std::string& cp1250) {
  std::string out;
  out.reserve(cp1250.size() + cp1250.size() / 8);
  for (unsigned char c : cp1250) {
    unsigned u = c < 0x80 ? c : kCp1250[c - 0x80];
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | u >> 6);
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | u >> 12);
      out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

struct Query {
  const char* cls;
  const char* ours;  // windows-1250 (this file is compiled with that execution charset)
  const char* fts;   // the same query in FTS5 syntax, windows-1250 here, UTF-8 when run
};

const Query kQueries[] = {
    {"single", "sąd", "sąd"},
    {"single", "wierzyciel", "wierzyciel"},
    {"single", "grzywny", "grzywny"},
    {"single", "nieruchomości", "nieruchomości"},
    {"I", "sąd I postępowania", "sąd AND postępowania"},
    {"I", "wierzyciel I dłużnik", "wierzyciel AND dłużnik"},
    {"NIE", "umowy NIE sąd", "umowy NOT sąd"},
    {"NIE", "kary NIE grzywny", "kary NOT grzywny"},
    {"prefix", "zobowiąz*", "zobowiąz*"},
    {"prefix", "nieruch*", "nieruch*"},
    {"prefix", "kasac*", "kasac*"},
    {"phrase", "\"skargi kasacyjnej\"", "\"skargi kasacyjnej\""},
    {"phrase", "\"odpowiedzialności karnej\"", "\"odpowiedzialności karnej\""},
    {"BLISKO", "skargi BLISKO/5 oddalenie", "NEAR(skargi oddalenie, 5)"},
    {"BLISKO", "\"skargi kasacyjnej\" BLISKO/10 sąd", "NEAR(\"skargi kasacyjnej\" sąd, 10)"},
};
const char* const kClasses[] = {"single", "I", "NIE", "prefix", "phrase", "BLISKO"};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

bool Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "sqlite: %s: %s\n", sql, error ? error : "?");
  sqlite3_free(error);
  return false;
}

// Builds an FTS5 table over the documents; false when SQLite fails.
bool BuildFts(const std::string& path, const std::vector<std::string>& docs, bool contentless, Timing& timing) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  auto start = Clock::now();
  double cpu = CpuSeconds();
  std::string create = "CREATE VIRTUAL TABLE docs USING fts5(body, tokenize='unicode61 remove_diacritics 0'";
  create += contentless ? ", content='')" : ")";
  bool ok = Exec(db, create.c_str()) && Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO docs(rowid, body) VALUES(?1, ?2)", -1, &insert, nullptr) == SQLITE_OK;
  for (std::size_t i = 0; ok && i < docs.size(); ++i) {
    sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(i));
    sqlite3_bind_text(insert, 2, docs[i].data(), static_cast<int>(docs[i].size()), SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ok = ok && Exec(db, "COMMIT");
  sqlite3_close(db);
  timing = Timing{Seconds(start, Clock::now()), CpuSeconds() - cpu};
  return ok;
}

std::size_t OursOnce(CDocServer& base, const char* query) {
  WORD first = 0, next = 0;
  CDocServer::FindHandle* h = base.FindFirstDoc(query, &first, nullptr);
  if (h == CDocServer::NoFind()) return 0;
  std::size_t n = 1;
  while (CDocServer::FindNextDoc(h, &next)) ++n;
  return n;
}

std::size_t FtsOnce(sqlite3_stmt* stmt) {
  std::size_t n = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) ++n;
  sqlite3_reset(stmt);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 20000;
  int runs = 40;
  int buildRounds = 3;
  std::string dir = "/tmp";
  bool keep = false, reuse = false, samples = false;
  std::string only;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--docs") && i + 1 < argc) count = std::strtoul(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) dir = argv[++i];
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
    else if (!std::strcmp(argv[i], "--reuse")) keep = reuse = true;
    else if (!std::strcmp(argv[i], "--class") && i + 1 < argc) only = argv[++i];
    else if (!std::strcmp(argv[i], "--samples")) samples = true;
    else if (!std::strcmp(argv[i], "--build-rounds") && i + 1 < argc) buildRounds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--jobs") && i + 1 < argc) jobs = static_cast<unsigned>(std::atoi(argv[++i]));
    else {
      std::fprintf(stderr,
                   "usage: concorda_bench [--docs N] [--runs N] [--dir DIR] [--jobs N] [--keep] [--reuse] [--class C]"
                   " [--samples] [--build-rounds N]\n");
      return 2;
    }
  }
  // The directory is made when missing (writing into a directory that is
  // not there failed only at the first size asked for, with an abort).
  if (std::error_code ec; !std::filesystem::is_directory(dir) &&
                          (!std::filesystem::create_directories(dir, ec) || ec)) {
    std::fprintf(stderr, "concorda_bench: cannot make the directory %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  bench::CorpusGenerator gen;
  if (!gen.Loaded()) {
    std::fprintf(stderr, "concorda_bench: no corpus in %s\n", bench::CorpusGenerator::DefaultCorpusDir().c_str());
    return 1;
  }
  std::vector<bench::GeneratedDoc> docs;
  std::vector<std::string> utf8;
  double megabytes = 0;
  // Reused bases need no documents: only the queries run.
  for (std::size_t i = 0; i < (reuse ? 0 : count); ++i) {
    docs.push_back(gen.Make(i));
    utf8.push_back(ToUtf8(docs.back().html));
    megabytes += docs.back().html.size() / 1e6;
  }
  std::printf("corpus: %zu documents, %.1f MB of windows-1250 HTML (%zu articles)\n", count, megabytes,
              gen.ArticleCount());

  // --- build: documents stored raw (as FTS5 keeps its content), then zlib (as the site's bases) ---
  // Worker threads read, cut and compress the documents; one writes them in
  // order (as vamubase build does); the index and the positions file are
  // written at the end.
  const std::string basePath = dir + "/concorda_bench.vq";
  GUID guid = NewGuid();
  auto buildBase = [&](DWORD method, Timing& store, Timing& write) {
    std::filesystem::remove(basePath);
    std::filesystem::remove(basePath + "p");
    CDocServer base(basePath.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite);
    store = Time([&] {
      concorda::RunDocumentBatch(
          docs.size(), jobs,
          [&](std::size_t i, CPreparedDocument& doc, std::string&) {
            CMemFile file(65536);
            file.Write(docs[i].html.data(), static_cast<UINT>(docs[i].html.size()));
            FileItemPtr item(MakeFileItem(docs[i].name.c_str()));
            return doc.Prepare(file, item.get(), docs[i].keys.c_str(), method);
          },
          [&](std::size_t, CPreparedDocument& doc, std::string&) {
            return base.StorePrepared(doc, base.GetSize(), false) != CFileServer::kNoItem;
          },
          nullptr);
    });
    write = Time([&] { base.Close(); });
  };
  Timing rawStore, rawWrite, oursStore, oursWrite;
  if (reuse) {
    for (const char* f : {"/concorda_bench.vq", "/concorda_bench.vqp", "/concorda_bench.db"})
      if (!std::filesystem::exists(dir + f)) {
        std::fprintf(stderr, "concorda_bench: --reuse: no %s%s (run with --keep first)\n", dir.c_str(), f);
        return 1;
      }
    std::printf("\nbuild: skipped (--reuse: the base and databases kept in %s)\n", dir.c_str());
  } else {
    buildBase(0, rawStore, rawWrite);
    const Timing rawBuild{rawStore.wall + rawWrite.wall, rawStore.cpu + rawWrite.cpu};
    const double rawMb = std::filesystem::file_size(basePath) / 1e6;
    // The two builds compared take turns; each side keeps its fastest round.
    Timing oursBuild{1e300, 1e300}, ftsBuild{1e300, 1e300}, ftsIndexBuild;
    std::vector<double> roundRatios;
    for (int round = 0; round < buildRounds; ++round) {
      Timing store, write, fts;
      buildBase(2, store, write);
      const Timing ours{store.wall + write.wall, store.cpu + write.cpu};
      if (ours.wall < oursBuild.wall) {
        oursBuild = ours;
        oursStore = store;
        oursWrite = write;
      }
      if (!BuildFts(dir + "/concorda_bench.db", utf8, false, fts)) return 1;
      if (fts.wall < ftsBuild.wall) ftsBuild = fts;
      roundRatios.push_back(fts.wall / ours.wall);  // documents per second, ours / FTS5
    }
    const double positionsMb = std::filesystem::file_size(basePath + "p") / 1e6;
    if (!BuildFts(dir + "/concorda_bench_index.db", utf8, true, ftsIndexBuild)) return 1;

    // Sizes: the whole base and its system files; the FTS5 database with its
    // content, and the contentless one (index only).
    ULONGLONG systemBytes = 0;
    {
      CDocServer built(basePath.c_str(), nullptr, CFile::modeRead);
      for (DWORD i = 0; i < built.GetSize(); ++i)
        if (built.IsSystemFile(i)) systemBytes += built.GetFileCompSize(i);
    }
    const double baseMb = std::filesystem::file_size(basePath) / 1e6;
    const double ftsMb = std::filesystem::file_size(dir + "/concorda_bench.db") / 1e6;
    const double ftsIndexMb = std::filesystem::file_size(dir + "/concorda_bench_index.db") / 1e6;

    auto row = [&](const char* what, const Timing& t, double mb, const char* extra) {
      std::printf("%-30s %7.0f %7.2f %7.2f   %7.0f %7.2f %7.2f   %7.1f MB%s\n", what, count / t.cpu, megabytes / t.cpu,
                  t.cpu, count / t.wall, megabytes / t.wall, t.wall, mb, extra);
    };
    std::printf("\nbuild (concorda with %u threads; CPU is the calling thread's; documents zlib and FTS5 with content: the\n"
                "fastest of %d rounds each, in turn)\n", jobs, buildRounds);
    std::printf("                               ---------- CPU ----------   ---------- wall ---------\n");
    std::printf("                                docs/s    MB/s       s    docs/s    MB/s       s   size on disk\n");
    char extra[160];
    std::snprintf(extra, sizeof extra, " (storing %.2f s, index write %.2f s CPU)", rawStore.cpu, rawWrite.cpu);
    row("concorda, documents raw", rawBuild, rawMb, extra);
    std::snprintf(extra, sizeof extra, " (index %.1f MB, positions file %.1f MB beside; storing %.2f s, index write %.2f s)",
                  systemBytes / 1e6, positionsMb, oursStore.wall, oursWrite.wall);
    row("concorda, documents zlib", oursBuild, baseMb, extra);
    row("FTS5 (content + index)", ftsBuild, ftsMb, "");
    row("FTS5 contentless (index only)", ftsIndexBuild, ftsIndexMb, "");
    std::printf("documents zlib / FTS5 content table, wall docs/s: %.2f (fastest of %d rounds each; rounds:",
                ftsBuild.wall / oursBuild.wall, buildRounds);
    for (double r : roundRatios) std::printf(" %.2f", r);
    std::printf(")\n");
  }
  // --- opening: the base or database and a first query (a word no timed
  // query names), which reads what each side reads once per process (our
  // word table and positions file) ---
  std::unique_ptr<CDocServer> opened;
  std::size_t firstHits = 0, ftsFirstHits = 0;
  const Timing oursOpen = Time([&] {
    opened = std::make_unique<CDocServer>(basePath.c_str(), nullptr, CFile::modeRead);
    firstHits = OursOnce(*opened, "ustawy");
  });
  CDocServer& base = *opened;
  sqlite3* db = nullptr;
  const Timing ftsOpen = Time([&] {
    sqlite3_open_v2((dir + "/concorda_bench.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid FROM docs WHERE docs MATCH 'ustawy'", -1, &stmt, nullptr);
    ftsFirstHits = FtsOnce(stmt);
    sqlite3_finalize(stmt);
  });
  std::printf("\nopen and a first query (\"ustawy\", %zu / %zu hits): concorda %.1f ms, FTS5 %.1f ms (wall)\n",
              firstHits, ftsFirstHits, oursOpen.wall * 1e3, ftsOpen.wall * 1e3);

  // --- queries: both sides cold at first, then warm; every query `runs` times ---
  std::printf("\nquery                                 hits: concorda   FTS5\n");
  // Per class: CPU and wall milliseconds of every run of every query.
  std::vector<std::vector<double>> oursCpu(std::size(kClasses)), ftsCpu(std::size(kClasses));
  std::vector<std::vector<double>> oursWall(std::size(kClasses)), ftsWall(std::size(kClasses));
  for (const Query& q : kQueries) {
    if (!only.empty() && only != q.cls) continue;
    std::size_t cls = 0;
    while (std::strcmp(kClasses[cls], q.cls)) ++cls;
    std::string ftsQuery = ToUtf8(q.fts);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid FROM docs WHERE docs MATCH ?1", -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, ftsQuery.c_str(), -1, SQLITE_TRANSIENT);
    std::size_t oursHits = 0, ftsHits = 0;
    for (int r = 0; r < runs; ++r) {
      Timing a = Time([&] { oursHits = OursOnce(base, q.ours); });
      Timing b = Time([&] { ftsHits = FtsOnce(stmt); });
      oursCpu[cls].push_back(a.cpu * 1e3);
      oursWall[cls].push_back(a.wall * 1e3);
      ftsCpu[cls].push_back(b.cpu * 1e3);
      ftsWall[cls].push_back(b.wall * 1e3);
    }
    sqlite3_finalize(stmt);
    std::printf("  %-34s %14zu %6zu\n", ToUtf8(q.ours).c_str(), oursHits, ftsHits);
  }
  sqlite3_close(db);

  std::printf("\nlatency (ms, %d runs per query; the first run is cold)\n", runs);
  std::printf("          ------------------- CPU p50 / p99 -------------------   ------- wall p50 / p99 -------\n");
  std::printf("class          concorda            FTS5      p50 ratio  p99 ratio     concorda          FTS5\n");
  for (std::size_t c = 0; c < std::size(kClasses); ++c) {
    if (oursCpu[c].empty()) continue;
    const double om = Percentile(oursCpu[c], 0.5), fm = Percentile(ftsCpu[c], 0.5);
    const double o99 = Percentile(oursCpu[c], 0.99), f99 = Percentile(ftsCpu[c], 0.99);
    std::printf("%-8s  %6.3f/%7.3f   %6.3f/%7.3f   %9.2f  %9.2f   %6.3f/%6.3f   %6.3f/%6.3f\n", kClasses[c], om, o99, fm,
                f99, fm > 0 ? om / fm : 0, f99 > 0 ? o99 / f99 : 0, Percentile(oursWall[c], 0.5),
                Percentile(oursWall[c], 0.99), Percentile(ftsWall[c], 0.5), Percentile(ftsWall[c], 0.99));
  }
  if (samples) {
    // Per class, each side's runs in the order they ran (query by query,
    // the first run of each query cold).
    for (std::size_t c = 0; c < std::size(kClasses); ++c) {
      if (oursCpu[c].empty()) continue;
      for (const auto& [side, v] : {std::pair{"concorda", &oursCpu[c]}, std::pair{"FTS5", &ftsCpu[c]}}) {
        std::printf("\n%s %s:", kClasses[c], side);
        for (std::size_t r = 0; r < v->size(); ++r)
          std::printf("%s %.3f", r % static_cast<std::size_t>(runs) ? "" : "\n ", (*v)[r]);
      }
      std::printf("\n");
    }
  }
  if (!keep) {
    for (const char* f : {"/concorda_bench.vq", "/concorda_bench.vqp", "/concorda_bench.db", "/concorda_bench_index.db"})
      std::filesystem::remove(dir + f);
  }
  return 0;
}
