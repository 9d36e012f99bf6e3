#include "kasten/codec.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <typeinfo>

#include "kasten/file_item.h"

namespace {

constexpr UINT kStoredBlock = 16384;

// zlib initialises what it reads of its state; zeroing the 32 KB window for
// every item would cost more than inflating a small document.
voidpf CodecAlloc(voidpf, uInt items, uInt size) {
  return size != 0 && items > SIZE_MAX / size ? nullptr : std::malloc(static_cast<std::size_t>(items) * size);
}
void CodecFree(voidpf, voidpf address) { std::free(address); }

}  // namespace

void CheckZlibResult(int result) {
  switch (result) {
    case Z_OK:
    case Z_STREAM_END: return;
    case Z_STREAM_ERROR: throw CZLibException(CZLibException::streamError);
    case Z_DATA_ERROR: throw CZLibException(CZLibException::dataError);
    case Z_BUF_ERROR: throw CZLibException(CZLibException::bufferError);
    case Z_MEM_ERROR: throw CMemoryException();
    case Z_ERRNO: CFileException::ThrowOsError(errno);
    default: throw CZLibException(CZLibException::otherError);
  }
}

namespace {

// Sets a codec's flag and files for the length of one operation.
struct Operation {
  Operation(CFile*& src, CFile*& dst, BOOL& cancel, BOOL& flag, CFile* from, CFile* to)
      : m_src(src), m_dst(dst), m_flag(flag) {
    src = from;
    dst = to;
    cancel = FALSE;
    flag = TRUE;
  }
  ~Operation() {
    m_flag = FALSE;
    m_src = m_dst = nullptr;
  }
  CFile*& m_src;
  CFile*& m_dst;
  BOOL& m_flag;
};

}  // namespace

void Codec::Compress(CFile* src, CFile* dst) {
  Operation op(m_pSrc, m_pDst, m_bCancel, m_bCompressing, src, dst);
  DoCompress();
}

void Codec::Decompress(CFile* src, CFile* dst, DWORD inputLimit, DWORD outputLimit) {
  Operation op(m_pSrc, m_pDst, m_bCancel, m_bDecompressing, src, dst);
  DoDecompress(inputLimit, outputLimit);
}

int Codec::ReadByte() {
  BYTE b;
  return m_pSrc->Read(&b, 1) == 1 ? b : -1;
}

UINT Codec::ReadBlock(void* buffer, UINT count) { return m_pSrc->Read(buffer, count); }
void Codec::WriteByte(BYTE b) { m_pDst->Write(&b, 1); }
void Codec::WriteBlock(const void* buffer, UINT count) { m_pDst->Write(buffer, count); }

// --- StoredCodec -----------------------------------------------------------

StoredCodec::StoredCodec() {
  m_pWork = std::malloc(kStoredBlock);
  if (!m_pWork) throw CMemoryException();
}

StoredCodec::~StoredCodec() { std::free(m_pWork); }

void StoredCodec::DoCompress() {
  for (;;) {
    UINT n = ReadBlock(m_pWork, kStoredBlock);
    if (n == 0) break;
    WriteBlock(m_pWork, n);
  }
}

void StoredCodec::DoDecompress(DWORD inputLimit, DWORD) {
  DWORD left = inputLimit;
  while (left > 0) {
    UINT want = left < kStoredBlock ? left : kStoredBlock;
    UINT n = ReadBlock(m_pWork, want);
    if (n == 0) throw CFileException(CFileException::endOfFile);
    WriteBlock(m_pWork, n);
    left -= n;
  }
}

// --- ZlibCodec -------------------------------------------------------------

ZlibCodec::ZlibCodec() {
  ResetStream();
  m_pWork = &m_stream;
}

ZlibCodec::~ZlibCodec() = default;

void ZlibCodec::ResetStream() {
  m_stream = z_stream{};
  m_stream.zalloc = CodecAlloc;
  m_stream.zfree = CodecFree;
  m_stream.opaque = this;
}

void ZlibCodec::DoCompress() {
  ResetStream();
  CheckZlibResult(deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY));
  struct End {
    z_stream* s;
    ~End() { deflateEnd(s); }
  } end{&m_stream};
  bool inputEnded = false;
  int result = Z_OK;
  m_stream.next_out = m_out;
  m_stream.avail_out = kBufferSize;
  do {
    if (m_stream.avail_in == 0 && !inputEnded) {
      UINT n = ReadBlock(m_in, kBufferSize);
      if (n == 0) inputEnded = true;
      m_stream.next_in = m_in;
      m_stream.avail_in = n;
    }
    if (m_stream.avail_out == 0) {
      WriteBlock(m_out, kBufferSize);
      m_stream.next_out = m_out;
      m_stream.avail_out = kBufferSize;
    }
    result = deflate(&m_stream, inputEnded ? Z_FINISH : Z_NO_FLUSH);
    CheckZlibResult(result);
  } while (!inputEnded || (result != Z_STREAM_END && m_stream.avail_out == 0));
  WriteBlock(m_out, kBufferSize - m_stream.avail_out);
}

void ZlibCodec::DoDecompress(DWORD inputLimit, DWORD outputLimit) {
  // A plain memory file is filled in place: the same bytes, one copy fewer.
  if (typeid(*m_pDst) == typeid(CMemFile)) {
    InflateIntoMemory(static_cast<CMemFile&>(*m_pDst), inputLimit, outputLimit);
    return;
  }
  ResetStream();
  CheckZlibResult(inflateInit2(&m_stream, 15));
  struct End {
    z_stream* s;
    ~End() { inflateEnd(s); }
  } end{&m_stream};
  UINT filled = 0;  // bytes waiting in the output buffer
  for (;;) {
    if (m_stream.total_in == inputLimit || m_stream.total_out == outputLimit) break;
    if (m_stream.avail_in == 0) {
      DWORD left = inputLimit - static_cast<DWORD>(m_stream.total_in);
      UINT n = ReadBlock(m_in, left < kBufferSize ? left : kBufferSize);
      m_stream.next_in = m_in;
      m_stream.avail_in = n;
    }
    if (filled == kBufferSize) {
      WriteBlock(m_out, kBufferSize);
      filled = 0;
    }
    // Never produce more than the output limit: a damaged contents length
    // or an over-long stream cannot make the item grow past what it declares.
    DWORD room = outputLimit - static_cast<DWORD>(m_stream.total_out);
    UINT avail = kBufferSize - filled;
    if (room < avail) avail = room;
    m_stream.next_out = m_out + filled;
    m_stream.avail_out = avail;
    int result = inflate(&m_stream, Z_NO_FLUSH);
    filled += avail - m_stream.avail_out;
    if (result == Z_STREAM_END) break;
    CheckZlibResult(result);
  }
  WriteBlock(m_out, filled);
}

void ZlibCodec::InflateIntoMemory(CMemFile& dst, DWORD inputLimit, DWORD outputLimit) {
  ResetStream();
  CheckZlibResult(inflateInit2(&m_stream, 15));
  struct End {
    z_stream* s;
    ~End() { inflateEnd(s); }
  } end{&m_stream};
  // Wide input: zlib copies its output into its window on every call, so
  // feeding it 512 bytes at a time would cost a second copy of the document.
  std::unique_ptr<BYTE[]> input(new BYTE[kWideInput]);
  BYTE* out = dst.PrepareWrite(outputLimit);
  m_stream.next_out = out;
  m_stream.avail_out = outputLimit;
  struct Commit {
    CMemFile& dst;
    z_stream& s;
    ~Commit() { dst.CommitWrite(s.total_out); }
  } commit{dst, m_stream};
  for (;;) {
    if (m_stream.total_in == inputLimit || m_stream.total_out == outputLimit) break;
    if (m_stream.avail_in == 0) {
      DWORD left = inputLimit - static_cast<DWORD>(m_stream.total_in);
      UINT n = ReadBlock(input.get(), left < kWideInput ? left : kWideInput);
      m_stream.next_in = input.get();
      m_stream.avail_in = n;
    }
    int result = inflate(&m_stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) break;
    CheckZlibResult(result);
  }
}

std::unique_ptr<Codec> CreateCodec(DWORD method) {
  switch (method) {
    case 0: return std::make_unique<StoredCodec>();
    case 1:
    case 2: return std::make_unique<ZlibCodec>();
    default: return nullptr;
  }
}
