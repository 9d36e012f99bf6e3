// The 40-byte header at the start of every container, as one image: the only
// code that turns its fields into bytes and back. docs/formats.md gives each
// field's purpose; the store (file_server.cpp) decides what goes in them.
#pragma once

#include "platform/windows_types.h"

struct ContainerHeader {
  static constexpr DWORD kSize = 40;
  // Bytes 32-35 while a writer has changed the container and not yet closed
  // it ("WRIT" in the file). Every other time they are 0, as in the files the
  // store has always written, so readers that never look at them (all readers
  // of the format) read the same container. A writer killed mid-write leaves
  // the mark behind; the next open sees it and rebuilds what was not written.
  static constexpr DWORD kWriteMark = 0x54495257;

  DWORD slotCount = 0;   // offset 0
  DWORD layout = 1;      // offset 4: 1 contiguous, 0 chained
  GUID guid{};           // offset 8
  DWORD reserved = 0;    // offset 24: carried unchanged, never interpreted
  DWORD hashOffset = 0;  // offset 28: 0 = no table in the file
  DWORD writeMark = 0;   // offset 32: 0 or kWriteMark
  // Offset 36: while marked, 0 or the offset of a redo record (a change of the
  // slot chain that a killed writer may have cut, to be made again); 0 otherwise.
  DWORD redoOffset = 0;

  void Encode(BYTE* out) const;  // kSize bytes
  static ContainerHeader Decode(const BYTE* in);
};
