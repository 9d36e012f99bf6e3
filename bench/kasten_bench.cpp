// Item read and write throughput of the container store against bare zlib on
// the same documents in the same run.
//
//   kasten_bench [--mb 50] [--dir /tmp]
//
// Builds a base of at least --mb megabytes of HTML with AddFile (compared with
// bare deflate of the same documents), compacts it, then reads every item
// through GetFile (compared with bare inflate of the same stored streams).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "bench/corpus_gen.h"
#include "kasten/file_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// One deflate of a whole document with the store's parameters.
std::size_t BareDeflate(const std::string& text, std::vector<unsigned char>& out) {
  z_stream s{};
  deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  out.resize(deflateBound(&s, text.size()));
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  s.avail_in = static_cast<uInt>(text.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  std::size_t n = s.total_out;
  deflateEnd(&s);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 50;
  std::string dir = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--mb")) megabytes = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
  }
  bench::CorpusGenerator gen;
  if (!gen.Loaded()) {
    std::fprintf(stderr, "kasten_bench: no corpus in %s\n", bench::CorpusGenerator::DefaultCorpusDir().c_str());
    return 1;
  }
  std::vector<bench::GeneratedDoc> docs;
  std::size_t total = 0;
  while (total < megabytes * 1e6) {
    docs.push_back(gen.Make(docs.size()));
    total += docs.back().html.size();
  }
  const double mb = total / 1e6;
  std::printf("documents: %zu, %.1f MB of HTML\n", docs.size(), mb);

  // --- writing ---
  std::string path = dir + "/kasten_bench.vq";
  DeleteFileAt(path);
  GUID guid = NewGuid();
  auto t0 = Clock::now();
  {
    CFileServer fs(path.c_str(), &guid, CFile::modeReadWrite);
    for (const auto& d : docs) {
      CMemFile src(4096);
      src.Write(d.html.data(), static_cast<UINT>(d.html.size()));
      src.SeekToBegin();
      _FILEITEM* item = MakeFileItem(d.name.c_str());
      fs.AddFile(src, item, 1);
      CFileServer::FreeFileItem(item);
    }
  }
  auto t1 = Clock::now();
  std::size_t compressed = 0;
  std::vector<unsigned char> out;
  for (const auto& d : docs) compressed += BareDeflate(d.html, out);
  auto t2 = Clock::now();
  double addRate = mb / Seconds(t0, t1), deflateRate = mb / Seconds(t1, t2);

  {
    CFileServer fs(path.c_str(), nullptr, CFile::modeReadWrite);
    fs.Compact();
  }

  // --- reading: best of three rounds each ---
  CFileServer fs(path.c_str(), nullptr, CFile::modeRead);
  std::vector<CFileServer::ItemInfo> infos(fs.GetSize());
  for (DWORD i = 0; i < fs.GetSize(); ++i) fs.GetItemInfo(i, infos[i]);
  int fd = open(path.c_str(), O_RDONLY);
  double bestGet = 1e9, bestBare = 1e9;
  std::size_t checkGet = 0, checkBare = 0;
  for (int round = 0; round < 3; ++round) {
    auto a = Clock::now();
    checkGet = 0;
    for (DWORD i = 0; i < fs.GetSize(); ++i) {
      CMemFile dst(4096);
      _FILEITEM* item = fs.GetFile(i, dst, 0, FALSE);
      checkGet += dst.GetLength();
      CFileServer::FreeFileItem(item);
    }
    auto b = Clock::now();
    checkBare = 0;
    std::vector<unsigned char> stored;
    for (const auto& info : infos) {
      stored.resize(info.storedLength);
      DWORD data = info.recordOffset + static_cast<DWORD>(info.name.size()) + 3 + 12;
      if (pread(fd, stored.data(), stored.size(), data) != static_cast<ssize_t>(stored.size())) return 1;
      unsigned char* text = static_cast<unsigned char*>(std::malloc(info.contentsLength + 1));
      z_stream s{};
      inflateInit2(&s, 15);
      s.next_in = stored.data();
      s.avail_in = static_cast<uInt>(stored.size());
      s.next_out = text;
      s.avail_out = info.contentsLength;
      inflate(&s, Z_FINISH);
      checkBare += s.total_out;
      inflateEnd(&s);
      std::free(text);
    }
    auto c = Clock::now();
    bestGet = std::min(bestGet, Seconds(a, b));
    bestBare = std::min(bestBare, Seconds(b, c));
  }
  close(fd);
  if (checkGet != total || checkBare != total) {
    std::fprintf(stderr, "kasten_bench: read %zu and %zu bytes of %zu\n", checkGet, checkBare, total);
    return 1;
  }
  std::printf("\n%-34s %10s %10s %8s\n", "", "MB/s", "peer MB/s", "ratio");
  std::printf("%-34s %10.1f %10.1f %8.2f\n", "AddFile vs bare deflate", addRate, deflateRate, addRate / deflateRate);
  std::printf("%-34s %10.1f %10.1f %8.2f\n", "GetFile vs bare inflate", mb / bestGet, mb / bestBare, bestBare / bestGet);
  std::printf("\nstored: %.1f MB by the store, %.1f MB by bare deflate\n",
              static_cast<double>(CFile(path.c_str(), CFile::modeRead).GetLength()) / 1e6, compressed / 1e6);
  DeleteFileAt(path);
  DeleteFileAt(CFileServer::BackupName(path));
  return 0;
}
