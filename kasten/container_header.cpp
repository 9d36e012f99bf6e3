#include "kasten/container_header.h"

#include "platform/coding.h"

void ContainerHeader::Encode(BYTE* out) const {
  EncodeLe32(out, slotCount);
  EncodeLe32(out + 4, layout);
  EncodeGuid(out + 8, guid);
  EncodeLe32(out + 24, reserved);
  EncodeLe32(out + 28, hashOffset);
  EncodeLe32(out + 32, writeMark);
  EncodeLe32(out + 36, redoOffset);
}

ContainerHeader ContainerHeader::Decode(const BYTE* in) {
  ContainerHeader h;
  h.slotCount = DecodeLe32(in);
  h.layout = DecodeLe32(in + 4);
  h.guid = DecodeGuid(in + 8);
  h.reserved = DecodeLe32(in + 24);
  h.hashOffset = DecodeLe32(in + 28);
  h.writeMark = DecodeLe32(in + 32);
  h.redoOffset = DecodeLe32(in + 36);
  return h;
}
