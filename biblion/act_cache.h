// The cache file of a catalogue's table of acts, "<catalogue>-<digest>.itt"
// in the cache directory (CSrvSrv::SetCacheDirectory): read at
// start-up by `CSrvSrv` instead of reading every document, written after the
// table was built. Little-endian words:
//
//   0          DWORD        B, the number of bases
//   4          16 x B       GUID of each base, in base-number order
//   4 + 16B    DWORD        N, the number of entries
//   8 + 16B    12 x N       the entries (first, second, combined index), in table order
//
// Nothing follows the entries. A cache is used only when it is sound and
// current; any doubt costs a rebuild, never a wrong table.
#pragma once

#include <string>
#include <vector>

#include "biblion/rnp.h"

namespace biblion {

// Reads the cache at `path` into entries when it matches the bases: B equal
// to their number, each GUID equal in order, the length exactly that of N
// entries (N at most 65536 per base), the entries in table order and naming
// existing base numbers, and the file newer than every base file (a base
// changed in place, e.g. compacted, keeps its GUID but not its slots; a base
// renamed into place counts from the rename, whatever its own time).
// False otherwise, entries then unchanged.
bool LoadActCache(const std::string& path, const std::vector<GUID>& guids, const std::vector<std::string>& baseFiles,
                  std::vector<ActEntry>& entries);

// Writes the cache: into a temporary file beside `path`, forced to disk, then
// renamed over `path`, so that a crash leaves the old cache or the new one and
// never a part of one. False (and no file left behind, *why telling the
// reason when given) on any failure.
bool WriteActCache(const std::string& path, const std::vector<GUID>& guids, const std::vector<ActEntry>& entries,
                   std::string* why = nullptr);

}  // namespace biblion
