// vamubase commands on the word index of a base: build (store and index a
// directory of documents), query (word query), keys (key query) and words
// (the word table with topic counts). Editors use them to check a base
// before it goes on the site. Texts are windows-1250 bytes in and out, as the
// base holds them.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "concorda/doc_server.h"
#include "concorda/document_batch.h"
#include "concorda/prepared_document.h"
#include "concorda/positions_format.h"
#include "concorda/query_markers.h"
#include "platform/file.h"
#include "tools/vamubase/command.h"

namespace vamubase {
namespace {

namespace fs = std::filesystem;

// Keys per file name from a side file: "NAME<TAB>KEY;KEY...", '#' starts a comment line.
bool ReadKeyFile(const std::string& path, std::map<std::string, std::string>& keys) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    keys[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return true;
}

// The documents named on the command line: files as given, directories by
// their regular files in name order (hidden files left out).
bool CollectDocuments(const std::vector<std::string>& args, std::vector<fs::path>& out) {
  for (const auto& a : args) {
    std::error_code ec;
    if (fs::is_directory(a, ec)) {
      std::vector<fs::path> files;
      for (const auto& e : fs::directory_iterator(a, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
      std::sort(files.begin(), files.end());
      out.insert(out.end(), files.begin(), files.end());
    } else if (fs::is_regular_file(a, ec)) {
      out.emplace_back(a);
    } else {
      Fail(a + ": no such file or directory");
      return false;
    }
  }
  return true;
}

// Progress of a long build on a terminal: done of total, rate, time left.
class Progress {
 public:
  Progress(std::size_t total, bool show) : m_total(total), m_show(show && isatty(STDERR_FILENO)) {}
  void Update(std::size_t done) {
    if (!m_show) return;
    auto now = Clock::now();
    if (done != m_total && now - m_last < std::chrono::milliseconds(200)) return;
    m_last = now;
    double seconds = std::chrono::duration<double>(now - m_start).count();
    double rate = seconds > 0 ? done / seconds : 0;
    long left = rate > 0 ? static_cast<long>((m_total - done) / rate) : 0;
    std::fprintf(stderr, "\r%zu/%zu documents  %.0f/s  %ld:%02ld left ", done, m_total, rate, left / 60, left % 60);
    if (done == m_total) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::size_t m_total;
  bool m_show;
  Clock::time_point m_start = Clock::now();
  Clock::time_point m_last{};
};

int Build(std::vector<std::string>& args) {
  bool stored = TakeFlag(args, "--stored");
  bool nameKeys = TakeFlag(args, "--name-keys");
  bool quiet = TakeFlag(args, "--quiet") || TakeFlag(args, "-q");
  bool missing = false;
  auto keyFile = TakeOption(args, "--keys", missing);
  auto prefix = TakeOption(args, "--prefix", missing);
  if (missing) return Usage("build", "an option lacks its value");
  unsigned jobs = 1;
  if (!TakeJobs(args, &jobs)) return Usage("build", "--jobs needs a number of threads from 1 to 256");
  if (!NoOptionsLeft("build", args)) return kUsage;
  if (args.size() < 2) return Usage("build", "give a base and at least one directory or file");
  if (keyFile && nameKeys) return Usage("build", "--keys and --name-keys exclude each other");
  std::map<std::string, std::string> keys;
  if (keyFile && !ReadKeyFile(*keyFile, keys)) return Fail(*keyFile + ": cannot read");
  std::vector<fs::path> files;
  if (!CollectDocuments(std::vector<std::string>(args.begin() + 1, args.end()), files)) return kFailed;

  CDocServer base;
  if (FileExists(args[0])) {
    if (!OpenBase(base, args[0], true)) return kFailed;
  } else {
    GUID guid = NewGuid();
    if (!base.Init(args[0].c_str(), &guid, CFile::modeReadWrite)) return Fail(args[0] + ": cannot create");
  }
  const DWORD method = stored ? 0 : 2;
  Progress progress(files.size(), !quiet);
  // Workers read, cut and compress the documents; this thread stores them
  // in the order of the files, so the base does not depend on --jobs.
  auto prepare = [&](std::size_t i, CPreparedDocument& doc, std::string& error) {
    CFile src;
    CFileException failure;
    if (!src.Open(files[i].c_str(), CFile::modeRead | CFile::shareDenyNone, &failure)) {
      error = files[i].string() + ": " + failure.GetErrorMessage();
      return false;
    }
    const std::string file = files[i].filename().string();
    const std::string name = prefix ? *prefix + "\\" + file : file;
    FileItemPtr item(MakeFileItem(name.c_str()));
    if (!item) {
      error = file + ": item name too long";
      return false;
    }
    std::string key;
    const char* itemKeys = nullptr;
    if (nameKeys) {
      key = files[i].stem().string();
      itemKeys = key.c_str();
    } else if (auto k = keys.find(file); k != keys.end()) {
      itemKeys = k->second.c_str();
    }
    if (!doc.Prepare(src, item.get(), itemKeys, method)) {
      error = files[i].string() + ": " + doc.Error();
      return false;
    }
    return true;
  };
  auto store = [&](std::size_t i, CPreparedDocument& doc, std::string& error) {
    if (base.StorePrepared(doc, base.GetSize(), false) == CFileServer::kNoItem) {
      error = files[i].string() + ": not added";
      return false;
    }
    progress.Update(i + 1);
    return true;
  };
  std::string failure;
  if (!concorda::RunDocumentBatch(files.size(), jobs, prepare, store, &failure)) return Fail(failure);
  if (!quiet && isatty(STDERR_FILENO)) std::cerr << "writing the index...\n";
  base.Close();
  if (!quiet) std::cerr << args[0] << ": " << files.size() << " documents indexed\n";
  return kOk;
}

// Prints the items ("index<TAB>name").
int PrintHits(CDocServer& base, const std::vector<DWORD>& items, bool quiet) {
  for (DWORD index : items) {
    FileItemPtr item(base.GetItem(index));
    std::cout << index << "\t" << (item ? item->szName : "") << "\n";
  }
  const std::size_t n = items.size();
  if (!quiet) std::cerr << n << (n == 1 ? " document\n" : " documents\n");
  return kOk;
}

// Prints the items of a handle and releases it.
int PrintHits(CDocServer& base, CDocServer::FindHandle* h, bool quiet) {
  FindHandlePtr owned(h);
  std::vector<DWORD> items;
  if (h != CDocServer::NoFind()) items = h->aItems;
  return PrintHits(base, items, quiet);
}

std::string Joined(const std::vector<std::string>& args, std::size_t from, const char* separator) {
  std::string out;
  for (std::size_t i = from; i < args.size(); ++i) out += (i > from ? separator : "") + args[i];
  return out;
}

int Query(std::vector<std::string>& args) {
  bool quiet = TakeFlag(args, "--quiet") || TakeFlag(args, "-q");
  const bool forms = TakeFlag(args, "--forms"), fold = TakeFlag(args, "--fold");
  if (!NoOptionsLeft("query", args)) return kUsage;
  if (args.size() < 2) return Usage("query", "give a base and a query");
  CDocServer base;
  if (!OpenBase(base, args[0], false)) return kFailed;
  std::string text = Joined(args, 1, " ");
  if (forms || fold) text = concorda::MarkPlainWords(text, forms, fold);
  concorda::CQueryBudget budget;
  CWordQuery query(text.c_str(), budget);
  std::vector<DWORD> items;
  if (!base.FindDocs(query, items)) return Fail("query refused, it asks for too much work: " + query.Refusal());
  return PrintHits(base, items, quiet);
}

int Keys(std::vector<std::string>& args) {
  bool quiet = TakeFlag(args, "--quiet") || TakeFlag(args, "-q");
  if (!NoOptionsLeft("keys", args)) return kUsage;
  if (args.size() < 2) return Usage("keys", "give a base and at least one key");
  CDocServer base;
  if (!OpenBase(base, args[0], false)) return kFailed;
  WORD first = 0;
  std::string keys = Joined(args, 1, ";");
  return PrintHits(base, base.FindFirstDocFromKey(keys.c_str(), &first), quiet);
}

int Positions(std::vector<std::string>& args) {
  bool quiet = TakeFlag(args, "--quiet") || TakeFlag(args, "-q");
  if (!NoOptionsLeft("positions", args)) return kUsage;
  if (args.size() != 1) return Usage("positions", "give one base");
  // Read-only: the base itself is not written, only the file beside it.
  CDocServer base;
  if (!OpenBase(base, args[0], false)) return kFailed;
  std::string why;
  if (!base.WritePositions(&why)) return Fail(concorda::PositionsPath(args[0]) + ": not written: " + why);
  if (!quiet) {
    std::error_code ec;
    const auto bytes = fs::file_size(concorda::PositionsPath(args[0]), ec);
    std::cerr << concorda::PositionsPath(args[0]) << ": word positions written (" << bytes << " bytes)\n";
  }
  return kOk;
}

int Words(std::vector<std::string>& args) {
  bool missing = false;
  auto prefix = TakeOption(args, "--prefix", missing);
  if (missing) return Usage("words", "--prefix needs a text");
  if (!NoOptionsLeft("words", args)) return kUsage;
  if (args.size() != 1) return Usage("words", "give one base");
  CDocServer base;
  if (!OpenBase(base, args[0], false)) return kFailed;
  for (DWORD i = 0; i < base.GetWordCount(); ++i) {
    const std::string word = base.GetWordAt(i);
    if (prefix && word.compare(0, prefix->size(), *prefix) != 0) continue;
    std::vector<DWORD> topics = base.GetWordTopics(i);
    ULONGLONG occurrences = 0;
    for (DWORD t : topics) occurrences += t >> 24;
    std::cout << word << "\t" << topics.size() << "\t" << occurrences << "\n";
  }
  return kOk;
}

}  // namespace

VAMUBASE_COMMAND(build, "build", "[--keys FILE|--name-keys] [--prefix DIR] [--stored] [--jobs N] [-q] BASE DIR|FILE...",
                 "store documents and index their words and keys (creates BASE when it does not exist)",
                 "  --keys FILE    keys of each document: lines \"FILE<TAB>KEY;KEY...\"\n"
                 "  --name-keys    the key of each document is its file name without the extension\n"
                 "  --prefix DIR   store the items as DIR\\NAME\n"
                 "  --stored       keep the documents uncompressed (default: zlib)\n"
                 "  --jobs N       threads that read and compress (default: the number of cores);\n"
                 "                 the base is the same byte for byte whatever N is\n"
                 "  -q, --quiet    no progress and no summary\n"
                 "Directories give their files in name order. Progress is shown on a terminal only.\n",
                 Build);
VAMUBASE_COMMAND(query, "query", "[-q] [--forms] [--fold] BASE QUERY...",
                 "run a word query; print \"slot<TAB>name\" of each document found",
                 "  -q, --quiet  no count on standard error\n"
                 "  --forms      every plain word finds all its forms (as ~word)\n"
                 "  --fold       every plain word finds the words that read alike without\n"
                 "               the marks of their letters (as ^word: lodz finds LODZ)\n"
                 "The query language: words in a row are alternatives, I (and), NIE (not),\n"
                 "(groups), * and ? wildcards, \"phrases\", X BLISKO/n Y (X and Y, words or\n"
                 "phrases, at most n words apart), ~word (all forms of the word), ^word\n"
                 "(without diacritics). The text is windows-1250.\n"
                 "A query that asks for more work than a search may cost is refused (exit status 1).\n",
                 Query);
VAMUBASE_COMMAND(keys, "keys", "[-q] BASE KEY...", "find the documents carrying any of the keys",
                 "  -q, --quiet  no count on standard error\n", Keys);
VAMUBASE_COMMAND(positions, "positions", "[-q] BASE",
                 "write the word positions file beside a base (BASE + \"p\") from its documents",
                 "  -q, --quiet  no summary line\n"
                 "Phrases and BLISKO read the positions instead of the documents. The writing\n"
                 "commands keep the file current; this makes it for a base written without it.\n",
                 Positions);
VAMUBASE_COMMAND(words, "words", "[--prefix TEXT] BASE",
                 "list the word table: word, documents, occurrences (windows-1250)",
                 "  --prefix TEXT  only the words that begin with TEXT (upper case)\n", Words);

}  // namespace vamubase
