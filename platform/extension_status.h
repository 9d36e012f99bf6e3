// The status entry point an extension may export beside its ISAPI entry
// points, through which the host learns whether it serves (for /healthz) and
// reads the figures it keeps (for /metrics), knowing the extension only by
// its exported names:
//
//   extern "C" BOOL GetExtensionStatus(EXTENSION_STATUS* status);
//
// The host may call it from any thread at any time after
// GetExtensionVersion returned TRUE and before TerminateExtension. A host
// finds a library without it serving as soon as it is loaded.
#pragma once

#include "platform/windows_types.h"

// dwState values.
constexpr DWORD EXTENSION_STATE_STARTING = 0;  // still opening what it serves from
constexpr DWORD EXTENSION_STATE_SERVING = 1;
constexpr DWORD EXTENSION_STATE_NO_DATA = 2;   // started, but nothing to serve from could be opened

struct EXTENSION_STATUS {
  DWORD cbSize;          // in: sizeof(EXTENSION_STATUS)
  DWORD dwState;         // out: EXTENSION_STATE_*
  // out: the command words of the requests the extension answers, blank
  // separated, e.g. "Topic Search Main"; the extension's static text (the
  // host names requests by them, and by nothing else a client could invent).
  const char* lpszCommands;
  // in: a buffer for the extension's figures in the Prometheus text format
  // (lines "# HELP", "# TYPE" and samples, each ended by "\n"); may be null.
  char* lpszMetrics;
  // in: the buffer's size; out: the bytes written, without a terminating
  // zero, or when the buffer was too small the size it needs.
  DWORD cbMetrics;
};

// TRUE when the figures fit (or no buffer was given); FALSE when the buffer
// was too small (cbMetrics then says how large it must be) or cbSize is wrong.
// dwState and lpszCommands are filled in either case when cbSize is right.
typedef BOOL (*PFN_GETEXTENSIONSTATUS)(EXTENSION_STATUS* status);
