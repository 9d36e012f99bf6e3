// Item codecs: one object per read or write of an item's contents, chosen by
// the storage method of the item record (0 stored, 1 and 2 zlib).
// `CFileServer` creates one with CreateCodec, runs Compress or Decompress and
// releases it. Failures throw (CFileException, CZLibException, CMemoryException).
#pragma once

#include <memory>

#include <zlib.h>

#include "platform/file.h"
#include "platform/windows_types.h"

class Codec {
 public:
  virtual ~Codec() = default;
  // Sets the cancel flag; neither codec consults it.
  virtual void Cancel() { m_bCancel = TRUE; }

  // Reads the source from its current position to its end and writes the
  // encoded bytes to the destination.
  void Compress(CFile* src, CFile* dst);
  // Decodes at most inputLimit source bytes into at most outputLimit bytes,
  // the contents length of the item; storedLength is the item's whole stored
  // length, against which the codec checks where its stream ends.
  void Decompress(CFile* src, CFile* dst, DWORD inputLimit, DWORD outputLimit, DWORD storedLength);

 protected:
  virtual int ReadByte();
  virtual UINT ReadBlock(void* buffer, UINT count);
  virtual void WriteByte(BYTE b);
  virtual void WriteBlock(const void* buffer, UINT count);
  virtual void DoCompress() = 0;
  virtual void DoDecompress(DWORD inputLimit, DWORD outputLimit) = 0;

  CFile* m_pSrc = nullptr;
  CFile* m_pDst = nullptr;
  BOOL m_bCancel = FALSE;
  BOOL m_bCompressing = FALSE;
  BOOL m_bDecompressing = FALSE;
  void* m_pWork = nullptr;  // the codec's working storage
  DWORD m_dwStoredLength = 0;  // of the item being decoded
};

// Method 0: the contents as they are, copied in 16384-byte blocks.
class StoredCodec : public Codec {
 public:
  StoredCodec();
  ~StoredCodec() override;

 protected:
  void DoCompress() override;
  void DoDecompress(DWORD inputLimit, DWORD outputLimit) override;
};

// Methods 1 and 2: one zlib stream (RFC 1950). Written whole at level 4 by
// libdeflate (whole_deflate.h). Read whole by libdeflate, or through zlib's
// stream in 512-byte buffers for prefixes, unlikely ratios and streams the
// whole read does not accept. Reading checks the stream against the record:
// Adler-32, contents length, stored length (see InflateStream).
class ZlibCodec : public Codec {
 public:
  static constexpr UINT kBufferSize = 512;
  static constexpr UINT kWideInput = 65536;  // input block when inflating into memory
  ZlibCodec();
  ~ZlibCodec() override;

 protected:
  void DoCompress() override;
  void DoDecompress(DWORD inputLimit, DWORD outputLimit) override;

 private:
  class Sink;
  // A fresh stream state whose allocations go through this codec.
  void ResetStream();
  bool InflateWhole(DWORD outputLimit);
  void InflateStream(DWORD inputLimit, DWORD outputLimit);

  z_stream m_stream{};
  BYTE m_in[kBufferSize];
  BYTE m_out[kBufferSize];
};

// The codec of a storage method; null for an unknown method.
std::unique_ptr<Codec> CreateCodec(DWORD method);

// Throws the exception that a zlib result other than Z_OK / Z_STREAM_END
// stands for; `detail` (zlib's message) goes with a data error.
void CheckZlibResult(int result, const char* detail = nullptr);
