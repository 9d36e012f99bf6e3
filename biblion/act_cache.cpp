#include "biblion/act_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "biblion/act_table.h"
#include "platform/coding.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace biblion {
namespace {

// Reads exactly n bytes at the file's position; false when it holds fewer.
bool ReadExactly(CFile& file, BYTE* buffer, std::size_t n) {
  while (n > 0) {
    UINT got = file.Read(buffer, static_cast<UINT>(n));
    if (got == 0) return false;
    buffer += got;
    n -= got;
  }
  return true;
}

// A file's last modification and last change of status (a rename, a change
// of permissions), nanoseconds since 1970.
struct FileTimes {
  std::int64_t modified = 0;
  std::int64_t changed = 0;
};
std::optional<FileTimes> TimesOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  auto ns = [](const timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
  return FileTimes{ns(st.st_mtim), ns(st.st_ctim)};
}

// The cache was written after the last change of every base file. A base
// renamed into place (a publication) keeps the time it was written, possibly
// long before the cache (a copy that kept its times), but its status changes
// with the rename. The status time is compared strictly: it cannot be set
// back, and a base merely examined (chmod, a copy's times set) in the tick
// the cache was written would otherwise never let the cache be trusted.
bool NewerThanBases(const std::string& path, const std::vector<std::string>& baseFiles) {
  std::optional<FileTimes> cache = TimesOf(path);
  if (!cache) return false;
  for (const auto& base : baseFiles) {
    std::optional<FileTimes> times = TimesOf(base);
    if (!times || times->modified >= cache->modified || times->changed > cache->modified) return false;
  }
  return true;
}

}  // namespace

bool LoadActCache(const std::string& path, const std::vector<GUID>& guids, const std::vector<std::string>& baseFiles,
                  std::vector<ActEntry>& entries) {
  try {
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) return false;
    const ULONGLONG length = file.GetLength();
    const std::size_t bases = guids.size();
    const ULONGLONG head = 8 + 16ull * bases;
    if (length < head) return false;
    std::vector<BYTE> header(static_cast<std::size_t>(head));
    if (!ReadExactly(file, header.data(), header.size())) return false;
    if (DecodeLe32(header.data()) != bases) return false;
    for (std::size_t i = 0; i < bases; ++i)
      if (!(DecodeGuid(&header[4 + 16 * i]) == guids[i])) return false;
    const DWORD count = DecodeLe32(&header[4 + 16 * bases]);
    if (count > std::size_t{kSlotsPerBase} * bases || length != head + 12ull * count) return false;
    std::vector<BYTE> raw(12ull * count);
    if (!ReadExactly(file, raw.data(), raw.size())) return false;
    std::vector<ActEntry> loaded(count);
    for (std::size_t i = 0; i < count; ++i) {
      const BYTE* p = &raw[12 * i];
      loaded[i] = ActEntry{DecodeLe32(p), DecodeLe32(p + 4), DecodeLe32(p + 8)};
      if ((loaded[i].dwIndex >> 16) >= bases) return false;
    }
    if (!CActTable::IsInTableOrder(loaded)) return false;
    if (!NewerThanBases(path, baseFiles)) return false;
    entries = std::move(loaded);
    return true;
  } catch (const CException&) {
    return false;
  }
}

bool WriteActCache(const std::string& path, const std::vector<GUID>& guids, const std::vector<ActEntry>& entries,
                   std::string* why) {
  std::vector<BYTE> image;
  image.reserve(8 + 16 * guids.size() + 12 * entries.size());
  AppendLe32(image, static_cast<DWORD>(guids.size()));
  for (const GUID& g : guids) {
    BYTE stored[kGuidBytes];
    EncodeGuid(stored, g);
    image.insert(image.end(), stored, stored + kGuidBytes);
  }
  AppendLe32(image, static_cast<DWORD>(entries.size()));
  for (const ActEntry& e : entries) {
    AppendLe32(image, e.dwFirst);
    AppendLe32(image, e.dwSecond);
    AppendLe32(image, e.dwIndex);
  }
  const std::string name = path.substr(path.find_last_of('/') + 1);
  auto temp = CreateTempFile(DirectoryOf(path), name + ".");
  if (!temp) {
    if (why) *why = std::strerror(errno);
    return false;
  }
  try {
    CFile file(temp->c_str(), CFile::modeWrite | CFile::shareDenyNone);
    file.Write(image.data(), static_cast<UINT>(image.size()));
    file.Flush();
    file.Close();
    namespace fs = std::filesystem;
    // A cache holds nothing private; other accounts (the tools, a second
    // server) may read it.
    fs::permissions(*temp, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    fs::rename(*temp, path);
    return true;
  } catch (const CException& e) {
    if (why) *why = e.what();
  } catch (const std::filesystem::filesystem_error& e) {
    if (why) *why = e.code().message();
  }
  DeleteFileAt(*temp);
  return false;
}

}  // namespace biblion
