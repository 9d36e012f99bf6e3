#include "portico/publications.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "biblion/srv_srv.h"
#include "portico/eli_address.h"
#include "portico/reader_act.h"

namespace portico {

namespace {

constexpr char kHeader[] = "VAMU-PUBLICATIONS 1";

// "<cache directory>/<catalogue>.pub": one record per catalogue, whatever
// bases it holds (the cache file's own name changes with them).
std::string RecordPath(const CSrvSrv& catalogue) {
  const std::string& cache = catalogue.GetCachePath();
  std::size_t slash = cache.rfind('/');
  if (cache.empty() || slash == std::string::npos) return {};
  std::string name = catalogue.GetName();
  for (char& c : name)
    if (c == '/') c = '_';
  return cache.substr(0, slash + 1) + name + ".pub";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Written whole beside the record and renamed over it, so a reader never
// sees half a record.
bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

std::optional<std::int64_t> PublishedAt(const CSrvSrv& catalogue) {
  std::optional<std::int64_t> newest;
  for (DWORD b = 0; b < catalogue.GetBaseCount(); ++b) {
    struct stat st {};
    const std::string path = catalogue.GetBasePath(b);
    if (!path.empty() && ::stat(path.c_str(), &st) == 0)
      newest = std::max<std::int64_t>(newest.value_or(0), static_cast<std::int64_t>(st.st_mtime));
  }
  return newest;
}

std::set<std::string> VersionPaths(const CSrvSrv& catalogue) {
  std::set<std::string> paths;
  for (const biblion::ActEntry& e : catalogue.GetActEntries()) {
    _RNP first(e.dwFirst), second(e.dwSecond);
    if ((first.Kind() != _RNP::kDzU && first.Kind() != _RNP::kMP) ||
        (second.Kind() != _RNP::kDzU && second.Kind() != _RNP::kMP))
      continue;
    ActAddress act{first.Kind(), FourDigitYear(first.Year()), static_cast<int>(first.Position())};
    ActAddress after{second.Kind(), FourDigitYear(second.Year()), static_cast<int>(second.Position())};
    paths.insert(EliVersionPath(act, after == act ? std::nullopt : std::optional<ActAddress>(after)).substr(5));
  }
  return paths;
}

std::string WriteRecord(const PublicationRecord& record) {
  std::string text = std::string(kHeader) + "\n";
  for (const std::string& k : record.known) text += "K " + k + "\n";
  for (const Publication& p : record.publications) {
    text += "P " + std::to_string(p.time) + "\n";
    for (const std::string& a : p.added) text += "N " + a + "\n";
  }
  return text;
}

PublicationRecord ReadRecord(const std::string& text) {
  PublicationRecord record;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return record;
  while (std::getline(in, line)) {
    if (line.size() < 3 || line[1] != ' ') continue;
    const std::string value = line.substr(2);
    // Only paths that read back as addresses are kept.
    const bool path = ParseEliAddress("/eli/" + value).has_value();
    if (line[0] == 'K' && path) {
      record.known.insert(value);
    } else if (line[0] == 'P') {
      char* end = nullptr;
      long long t = std::strtoll(value.c_str(), &end, 10);
      if (end && *end == 0 && t >= 0) record.publications.push_back({t, {}});
    } else if (line[0] == 'N' && path && !record.publications.empty()) {
      record.publications.back().added.push_back(value);
    }
  }
  return record;
}

PublicationRecord Advance(PublicationRecord record, const std::set<std::string>& current, std::int64_t now) {
  Publication p{now, {}};
  for (const std::string& path : current)
    if (!record.known.count(path)) p.added.push_back(path);
  record.known = current;
  if (!p.added.empty()) record.publications.push_back(std::move(p));
  while (record.publications.size() > kKeptPublications) record.publications.erase(record.publications.begin());
  return record;
}

std::shared_ptr<const std::vector<Publication>> CPublications::Current(const CSrvSrv& catalogue, std::int64_t now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_current) return m_current;
  const std::string path = RecordPath(catalogue);
  PublicationRecord before = path.empty() ? PublicationRecord{} : ReadRecord(ReadFile(path));
  PublicationRecord after = Advance(before, VersionPaths(catalogue), PublishedAt(catalogue).value_or(now));
  // A record that cannot be written costs the next start a publication that lists these again.
  if (!path.empty() && after.known != before.known) ReplaceFile(path, WriteRecord(after));
  m_current = std::make_shared<const std::vector<Publication>>(std::move(after.publications));
  return m_current;
}

}  // namespace portico
