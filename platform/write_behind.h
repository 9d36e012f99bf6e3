// Write-behind for long runs of writes (a base or a positions file being
// built): every few megabytes the disk is asked to start writing what was
// written (CFile::StartFlush), so that the final Flush waits for the last
// part only instead of the whole file.
#pragma once

#include "platform/file.h"

// How much a writer writes between two requests.
constexpr ULONGLONG kWriteBehindBytes = 16u << 20;

// Counts `written` more bytes in `pending` (the bytes written since the last
// request) and asks the disk to take them once they reach the step.
inline void WriteBehind(CFile& file, ULONGLONG& pending, ULONGLONG written) {
  pending += written;
  if (pending < kWriteBehindBytes) return;
  file.StartFlush();
  pending = 0;
}
