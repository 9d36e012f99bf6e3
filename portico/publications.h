// The record of publications of a catalogue: which act versions each
// publication of bases added, so that the feed of new acts can list them.
// A publication is what the record sees when the table of acts holds
// versions it did not hold before: the extension compares the table with
// the record once per life (the bases do not change while they are served)
// and, when it differs, appends a publication dated by the newest of the
// bases' modification times: when they were published, whenever the feed is
// first asked, and the same on every server that holds copies made with
// their times kept. The record is a
// text file beside the catalogue's cache file (docs/formats.md); without a
// cache directory there is no record and no publication is known.
//
// Threads: Current() may be called from any number of request threads; the
// first call reads and updates the file under a mutex, later calls share
// the result.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CSrvSrv;

namespace portico {

struct Publication {
  std::int64_t time = 0;               // seconds since 1970 (UTC): the newest base's modification time
  std::vector<std::string> added;      // version paths ("DU/1997/483/po/DU/2009/946"), in table order
};

// Publications kept in the record, the newest last; older ones are dropped.
constexpr std::size_t kKeptPublications = 20;

class CPublications {
 public:
  // The publications known, oldest first, after the catalogue's table has
  // been compared with the record (once). A new publication is dated by
  // PublishedAt(catalogue), or `now` when no base file can be looked at.
  std::shared_ptr<const std::vector<Publication>> Current(const CSrvSrv& catalogue, std::int64_t now);

 private:
  std::mutex m_mutex;
  std::shared_ptr<const std::vector<Publication>> m_current;
};

// The newest modification time (seconds since 1970) of the catalogue's base
// files; nothing when none of them can be looked at.
std::optional<std::int64_t> PublishedAt(const CSrvSrv& catalogue);

// The version paths of every act version in a catalogue's table of acts.
std::set<std::string> VersionPaths(const CSrvSrv& catalogue);

// The record's text and back. Reading skips lines it does not know, so a
// damaged record costs at most a publication that lists too much.
struct PublicationRecord {
  std::set<std::string> known;
  std::vector<Publication> publications;
};
std::string WriteRecord(const PublicationRecord& record);
PublicationRecord ReadRecord(const std::string& text);
// The record after the table `current` was seen at `now`: a new publication
// of what `current` has and `known` had not (none when nothing is new).
PublicationRecord Advance(PublicationRecord record, const std::set<std::string>& current, std::int64_t now);

}  // namespace portico
