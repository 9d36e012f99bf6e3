// The Search page over an indexed base of documents made from the corpus: a
// word pattern within a journal range, as a cache miss (the query is new:
// range query, word query, intersection, page of titles) and as a cache hit
// (another page of a cached query), each request run whole through the
// extension's request operation in this process. The peer, in the same run
// on the same documents: SQLite with an FTS5 table of the texts and a table
// of the same acts (journal, year, number, position, title), answering the
// same query with its result count and one page of titles.
//
//   search_bench [--docs 8000] [--runs 200] [--dir /tmp] [--keep]
//
// Times are wall-clock per request; the machine may be shared, so the
// figures of one run are compared with each other, not across runs. Every
// request ends with the heap compaction of the request epilogue, which in a
// process holding a large heap costs more than the search itself; run with
// VAMU_HEAP_TRIM=0 to see the page without it.
#include <iconv.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/corpus_gen.h"
#include "concorda/doc_server.h"
#include "kasten/file_item.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "portico/extension.h"

namespace {

using Clock = std::chrono::steady_clock;
double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// One request of a browser, answered in this process; the page is counted, not kept.
class BenchRequest {
 public:
  explicit BenchRequest(std::string query) : m_query(std::move(query)) {
    m_ecb.cbSize = sizeof m_ecb;
    m_ecb.ConnID = this;
    m_ecb.lpszMethod = const_cast<char*>("GET");
    m_ecb.lpszQueryString = m_query.data();
    m_ecb.lpszPathInfo = const_cast<char*>("");
    m_ecb.lpszPathTranslated = const_cast<char*>("");
    m_ecb.lpszContentType = const_cast<char*>("");
    m_ecb.GetServerVariable = [](HCONN, LPSTR, LPVOID, LPDWORD) -> BOOL { return FALSE; };
    m_ecb.WriteClient = [](HCONN conn, LPVOID data, LPDWORD bytes, DWORD) -> BOOL {
      auto* self = static_cast<BenchRequest*>(conn);
      self->m_page.append(static_cast<const char*>(data), *bytes);
      return TRUE;
    };
    m_ecb.ReadClient = [](HCONN, LPVOID, LPDWORD size) -> BOOL {
      *size = 0;
      return TRUE;
    };
    m_ecb.ServerSupportFunction = [](HCONN, DWORD, LPVOID, LPDWORD, LPDWORD) -> BOOL { return TRUE; };
  }
  EXTENSION_CONTROL_BLOCK* Ecb() { return &m_ecb; }
  const std::string& Page() const { return m_page; }

 private:
  std::string m_query;
  std::string m_page;
  EXTENSION_CONTROL_BLOCK m_ecb{};
};

// The total of a result page ("Dokumenty znalezione (N pozycji)"), -1 without one.
long Total(const std::string& page) {
  std::size_t at = page.find("znalezione (");
  return at == std::string::npos ? (page.find("Nie znaleziono") != std::string::npos ? 0 : -1)
                                 : std::strtol(page.c_str() + at + 12, nullptr, 10);
}

std::string Utf8(const std::string& cp1250) {
  iconv_t cd = iconv_open("UTF-8", "CP1250");
  if (cd == reinterpret_cast<iconv_t>(-1)) return cp1250;
  std::string out(cp1250.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(cp1250.data());
  std::size_t inLeft = cp1250.size();
  char* o = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0 && iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
    ++in;  // a byte without a character in the code page
    --inLeft;
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

bool Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "sqlite: %s: %s\n", sql, error ? error : "?");
  sqlite3_free(error);
  return false;
}

// The query of the measurements: a word within years and numbers of Dz.U.
struct SearchQuery {
  const char* word;  // windows-1250 (this file is compiled with that execution charset)
  int firstYear, lastYear, firstNumber, lastNumber;
  std::string Arguments() const {
    return std::string("Pattern=") + word + "&TypyDoc=1&OD=19" + std::to_string(firstYear) + "&DO=19" +
           std::to_string(lastYear) + "&ODN=" + std::to_string(firstNumber) + "&DON=" + std::to_string(lastNumber);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::size_t docs = 8000;
  int runs = 200;
  bool keep = false;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--keep")) keep = true;
    else if (i + 1 < argc && !std::strcmp(argv[i], "--docs")) docs = std::strtoul(argv[++i], nullptr, 10);
    else if (i + 1 < argc && !std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[++i]));
    else if (i + 1 < argc && !std::strcmp(argv[i], "--dir")) dir = argv[++i];
  }
  if (docs == 0 || docs >= 0x10000) {
    std::fprintf(stderr, "search_bench: 1 to 65535 documents (one base)\n");
    return 1;
  }
  bench::CorpusGenerator gen;
  if (!gen.Loaded()) {
    std::fprintf(stderr, "search_bench: no corpus at %s\n", bench::CorpusGenerator::DefaultCorpusDir().c_str());
    return 1;
  }

  namespace fs = std::filesystem;
  const std::string root = dir + "/vamu-search-bench-" + std::to_string(::getpid());
  fs::create_directories(root);
  const std::string basePath = root + "/acts.vq";
  const std::string registryPath = root + "/registry.reg";

  // The base: every document with its keys, indexed as the tools index them.
  std::vector<std::string> texts(docs);
  auto t0 = Clock::now();
  {
    GUID guid = NewGuid();
    CDocServer base(basePath.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite);
    for (std::size_t i = 0; i < docs; ++i) {
      bench::GeneratedDoc d = gen.Make(i);
      CMemFile file(4096);
      file.Write(d.html.data(), static_cast<UINT>(d.html.size()));
      file.SeekToBegin();
      _FILEITEM* item = MakeFileItem(d.name.c_str());
      base.AddFile(file, item, d.keys.c_str(), 2);
      CFileServer::FreeFileItem(item);
      texts[i] = std::move(d.html);
    }
    base.Close();
  }
  std::printf("base: %zu documents indexed in %.1f s, %.1f MB\n", docs, Micros(t0, Clock::now()) / 1e6,
              fs::file_size(basePath) / 1e6);

  CRegistry registry;
  registry.SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\biblion", "1", basePath);
  registry.SetString("HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup", "Dir", root);
  std::ofstream(registryPath, std::ios::binary) << registry.Serialize();
  ::setenv("VAMU_REGISTRY", registryPath.c_str(), 1);

  auto extension = std::make_unique<portico::CPorticoExtension>();
  extension->SetCacheDirectory(root);
  HSE_VERSION_INFO info{};
  extension->GetExtensionVersion(&info);
  extension->WaitReady();
  auto run = [&](const std::string& query, double* micros) {
    BenchRequest request(query);
    auto a = Clock::now();
    extension->HttpExtensionProc(request.Ecb());
    *micros = Micros(a, Clock::now());
    return Total(request.Page());
  };

  // The peer: the acts the range query can select (those of the table of
  // acts, one per act as the search groups them), with their fields and
  // titles, and the texts of all documents in FTS5.
  const std::string sqlitePath = root + "/peer.db";
  sqlite3* db = nullptr;
  if (sqlite3_open(sqlitePath.c_str(), &db) != SQLITE_OK) return 1;
  bool ok = Exec(db, "PRAGMA journal_mode=OFF") && Exec(db, "PRAGMA synchronous=OFF") &&
            Exec(db, "CREATE TABLE acts(id INTEGER PRIMARY KEY, journal INT, year INT, number INT, position INT, title TEXT)") &&
            Exec(db, "CREATE INDEX acts_range ON acts(journal, year, number, position)") &&
            Exec(db, "CREATE VIRTUAL TABLE docs USING fts5(body, tokenize=\"unicode61 remove_diacritics 0\")") &&
            Exec(db, "BEGIN");
  {
    std::vector<DWORD> all;
    _RNP lo = _RNP::Make(0, 0, 0, 0), hi = _RNP::Make(1, 127, 511, 2047, 1);
    extension->Main().FindFromRNP(&lo, &hi, 0, all);
    std::sort(all.begin(), all.end());
    sqlite3_stmt* act = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO acts VALUES(?1, ?2, ?3, ?4, ?5, ?6)", -1, &act, nullptr);
    for (const biblion::ActEntry& e : extension->Main().GetActEntries()) {
      if (!std::binary_search(all.begin(), all.end(), e.dwIndex)) continue;
      const _RNP r(e.dwFirst);
      sqlite3_bind_int64(act, 1, e.dwIndex);
      sqlite3_bind_int(act, 2, static_cast<int>(r.Kind()));
      sqlite3_bind_int(act, 3, static_cast<int>(r.Year()));
      sqlite3_bind_int(act, 4, static_cast<int>(r.Number()));
      sqlite3_bind_int(act, 5, static_cast<int>(r.Position()));
      std::string title = Utf8(extension->Main().GetTitleOf(e.dwIndex));
      sqlite3_bind_text(act, 6, title.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(act);  // a document listed twice keeps its first row
      sqlite3_reset(act);
    }
    sqlite3_finalize(act);
    sqlite3_stmt* doc = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO docs(rowid, body) VALUES(?1, ?2)", -1, &doc, nullptr);
    for (std::size_t i = 0; i < docs; ++i) {
      std::string body = Utf8(texts[i]);
      sqlite3_bind_int64(doc, 1, static_cast<sqlite3_int64>(i));
      sqlite3_bind_text(doc, 2, body.c_str(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
      ok = ok && sqlite3_step(doc) == SQLITE_DONE;
      sqlite3_reset(doc);
    }
    sqlite3_finalize(doc);
  }
  ok = ok && Exec(db, "COMMIT");
  if (!ok) return 1;
  const char* kWhere =
      " FROM acts WHERE journal = 0 AND year BETWEEN ?1 AND ?2 AND number BETWEEN ?3 AND ?4 "
      "AND id IN (SELECT rowid FROM docs WHERE docs MATCH ?5)";
  sqlite3_stmt* count = nullptr;
  sqlite3_stmt* page = nullptr;
  sqlite3_prepare_v2(db, (std::string("SELECT count(*)") + kWhere).c_str(), -1, &count, nullptr);
  sqlite3_prepare_v2(db, (std::string("SELECT id, title") + kWhere + " ORDER BY id LIMIT 20").c_str(), -1, &page,
                     nullptr);
  auto peer = [&](const SearchQuery& q, double* micros) {
    std::string word = Utf8(q.word);
    auto a = Clock::now();
    long total = 0;
    for (sqlite3_stmt* s : {count, page}) {
      sqlite3_bind_int(s, 1, q.firstYear);
      sqlite3_bind_int(s, 2, q.lastYear);
      sqlite3_bind_int(s, 3, q.firstNumber);
      sqlite3_bind_int(s, 4, q.lastNumber);
      sqlite3_bind_text(s, 5, word.c_str(), -1, SQLITE_TRANSIENT);
      std::size_t bytes = 0;
      while (sqlite3_step(s) == SQLITE_ROW) {
        if (s == count) total = sqlite3_column_int(s, 0);
        else bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, 1));
      }
      sqlite3_reset(s);
      (void)bytes;
    }
    *micros = Micros(a, Clock::now());
    return total;
  };

  const SearchQuery queries[] = {
      {"sąd", 60, 61, 1, 60},
      {"wierzyciel", 60, 61, 1, 100},
      {"nieruchomości", 60, 60, 10, 40},
  };
  std::printf("\n%-14s %8s | %-22s | %-22s | %-22s | %s\n", "word", "results", "miss median / p99 (us)",
              "hit median / p99 (us)", "SQLite median / p99", "miss/SQLite hit/SQLite");
  for (const SearchQuery& q : queries) {
    std::vector<double> miss, hit, sql;
    long ours = -1, theirs = -1;
    double us = 0;
    // Every miss is a new query text: a field the page does not read makes it one.
    for (int i = 0; i < runs; ++i) {
      ours = run("Search&" + q.Arguments() + "&Run=" + std::to_string(i), &us);
      miss.push_back(us);
    }
    const std::string cached = "Search&" + q.Arguments() + "&Run=0";
    for (int i = 0; i < runs * 5; ++i) {
      run(cached + "&Start=" + std::to_string(1 + (i % 5) * 20) + "&Length=20", &us);
      hit.push_back(us);
    }
    for (int i = 0; i < runs; ++i) {
      theirs = peer(q, &us);
      sql.push_back(us);
    }
    if (ours != theirs) std::printf("(results differ: ours %ld, SQLite %ld)\n", ours, theirs);
    const double m = Percentile(miss, 0.5), h = Percentile(hit, 0.5), s = Percentile(sql, 0.5);
    std::printf("%-14s %8ld | %9.0f / %9.0f | %9.0f / %9.0f | %9.0f / %9.0f | %5.2f %9.2f\n", Utf8(q.word).c_str(), ours, m,
                Percentile(miss, 0.99), h, Percentile(hit, 0.99), s, Percentile(sql, 0.99), m / s, h / s);
  }
  std::printf("\n(miss: range query, word query, intersection, 20 titles read from the base; hit: the list from the\n"
              " cache, 20 titles read; SQLite: count and 20 titles of the same acts, titles kept in its table)\n");

  sqlite3_finalize(count);
  sqlite3_finalize(page);
  sqlite3_close(db);
  extension.reset();
  if (!keep) fs::remove_all(root);
  return 0;
}
