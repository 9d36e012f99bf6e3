#include "kasten/codec.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <typeinfo>

#include "kasten/file_item.h"
#include "kasten/whole_deflate.h"

namespace {

constexpr UINT kStoredBlock = 16384;

// zlib initialises what it reads of its state; zeroing the 32 KB window for
// every item would cost more than inflating a small document.
voidpf CodecAlloc(voidpf, uInt items, uInt size) {
  return size != 0 && items > SIZE_MAX / size ? nullptr : std::malloc(static_cast<std::size_t>(items) * size);
}
void CodecFree(voidpf, voidpf address) { std::free(address); }

// A malloc'd block; running out of memory is the platform's CMemoryException.
class HeapBlock {
 public:
  HeapBlock() = default;
  explicit HeapBlock(std::size_t n) { Resize(n); }
  ~HeapBlock() { std::free(m_p); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  void Resize(std::size_t n) {
    void* p = std::realloc(m_p, n ? n : 1);
    if (!p) throw CMemoryException();
    m_p = static_cast<BYTE*>(p);
  }
  BYTE* get() const { return m_p; }

 private:
  BYTE* m_p = nullptr;
};

// The most an item of `stored` bytes is believed to hold before it proves
// more: deflate reaches ratios of 5 to 10 on real text, 16 with room to
// spare. Larger contents lengths are inflated through the stream, which
// gives them room only as they really produce it.
ULONGLONG PlausibleContents(DWORD stored) { return static_cast<ULONGLONG>(stored) * 16 + 65536; }

}  // namespace

void CheckZlibResult(int result, const char* detail) {
  switch (result) {
    case Z_OK:
    case Z_STREAM_END: return;
    case Z_STREAM_ERROR: throw CZLibException(CZLibException::streamError);
    case Z_DATA_ERROR: throw CZLibException(CZLibException::dataError, detail ? detail : "");
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

void Codec::Decompress(CFile* src, CFile* dst, DWORD inputLimit, DWORD outputLimit, DWORD storedLength) {
  Operation op(m_pSrc, m_pDst, m_bCancel, m_bDecompressing, src, dst);
  m_dwStoredLength = storedLength;
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
    if (n == 0) throw CFileException(CFileException::endOfFile, 0, m_pSrc->GetFilePath());
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

// The whole item in one call: the record is built in memory anyway, and
// whole-buffer deflate is about twice as fast as the streaming one.
void ZlibCodec::DoCompress() {
  const BYTE* in;
  std::size_t length;
  HeapBlock copy;
  if (typeid(*m_pSrc) == typeid(CMemFile)) {
    auto* mem = static_cast<CMemFile*>(m_pSrc);
    const ULONGLONG at = mem->GetPosition(), end = mem->GetLength();
    in = mem->GetBuffer() + at;
    length = static_cast<std::size_t>(end > at ? end - at : 0);
    mem->Seek(0, CFile::end);
  } else {
    // Any other source is read to its end, as its length may not be known.
    std::size_t room = kStoredBlock;
    copy.Resize(room);
    length = 0;
    for (;;) {
      if (length == room) copy.Resize(room *= 2);
      UINT n = ReadBlock(copy.get() + length, static_cast<UINT>(std::min<std::size_t>(room - length, 1u << 30)));
      if (n == 0) break;
      length += n;
    }
    in = copy.get();
  }
  const std::size_t bound = whole_deflate::Bound(length);
  if (typeid(*m_pDst) == typeid(CMemFile)) {
    auto* mem = static_cast<CMemFile*>(m_pDst);
    mem->CommitWrite(whole_deflate::Compress(in, length, mem->PrepareWrite(bound), bound));
  } else {
    HeapBlock out(bound);
    std::size_t n = whole_deflate::Compress(in, length, out.get(), bound);
    for (std::size_t at = 0; at < n;) {
      UINT part = static_cast<UINT>(std::min<std::size_t>(n - at, 1u << 30));
      WriteBlock(out.get() + at, part);
      at += part;
    }
  }
}

// Where inflated bytes go: straight into a plain memory file, which grows
// as the stream really produces (a damaged contents length is never
// allocated), or through the 512-byte output buffer into any other file.
class ZlibCodec::Sink {
 public:
  Sink(ZlibCodec& codec, DWORD storedLength, DWORD outputLimit) : m_codec(codec) {
    if (typeid(*codec.m_pDst) == typeid(CMemFile)) {
      m_memory = static_cast<CMemFile*>(codec.m_pDst);
      m_window = static_cast<std::size_t>(std::min<ULONGLONG>(outputLimit, PlausibleContents(storedLength)));
    }
  }
  // Room for at most `want` (> 0) bytes.
  void Open(z_stream& s, DWORD want) {
    if (m_memory) {
      std::size_t n = std::min<std::size_t>(want, std::max(m_window, m_produced));
      s.next_out = m_memory->PrepareWrite(n);
      s.avail_out = static_cast<uInt>(n);
      m_open = n;
      return;
    }
    if (m_filled == kBufferSize) Flush();
    UINT n = std::min<UINT>(want, kBufferSize - m_filled);
    s.next_out = m_codec.m_out + m_filled;
    s.avail_out = n;
    m_open = n;
  }
  // Counts what the last inflate call wrote into the room given.
  void Close(const z_stream& s) {
    std::size_t got = m_open - s.avail_out;
    m_produced += got;
    if (m_memory) m_memory->CommitWrite(got);
    else m_filled += static_cast<UINT>(got);
  }
  void Flush() {
    if (!m_memory && m_filled) m_codec.WriteBlock(m_codec.m_out, m_filled);
    m_filled = 0;
  }

 private:
  ZlibCodec& m_codec;
  CMemFile* m_memory = nullptr;
  std::size_t m_window = 0;
  std::size_t m_open = 0;
  std::size_t m_produced = 0;
  UINT m_filled = 0;
};

void ZlibCodec::DoDecompress(DWORD inputLimit, DWORD outputLimit) {
  // A whole item of a plausible ratio is inflated in one call; anything the
  // call does not accept goes through the stream below, which finds the same
  // damage and names it (zlib tells a checksum from a cut or a bad code).
  if (inputLimit >= m_dwStoredLength && outputLimit <= PlausibleContents(m_dwStoredLength) &&
      InflateWhole(outputLimit))
    return;
  InflateStream(inputLimit, outputLimit);
}

// True when the item's stored bytes are one sound stream that ends exactly
// at the stored length and inflates to exactly outputLimit bytes; then those
// are written to the destination. False leaves destination and source as
// they were.
bool ZlibCodec::InflateWhole(DWORD outputLimit) {
  const ULONGLONG start = m_pSrc->GetPosition();
  HeapBlock stored(m_dwStoredLength);
  std::size_t got = 0;
  while (got < m_dwStoredLength) {
    UINT n = ReadBlock(stored.get() + got, m_dwStoredLength - static_cast<DWORD>(got));
    if (n == 0) break;
    got += n;
  }
  auto* mem = typeid(*m_pDst) == typeid(CMemFile) ? static_cast<CMemFile*>(m_pDst) : nullptr;
  HeapBlock buffer(mem ? 0 : outputLimit);
  BYTE* out = mem ? mem->PrepareWrite(outputLimit) : buffer.get();
  std::size_t used = 0, produced = 0;
  if (got != m_dwStoredLength || !whole_deflate::Inflate(stored.get(), got, out, outputLimit, used, produced) ||
      used != m_dwStoredLength || produced != outputLimit) {
    m_pSrc->Seek(static_cast<LONGLONG>(start), CFile::begin);
    return false;
  }
  if (mem) mem->CommitWrite(produced);
  else if (produced) WriteBlock(out, static_cast<UINT>(produced));
  return true;
}

// Inflates at most inputLimit stored bytes into at most outputLimit bytes and
// checks the stream against the record (storedLength, outputLimit = the
// contents length):
// - a stream that ends must end exactly at the stored length, having
//   produced exactly the contents length; zlib has checked its Adler-32 then;
// - a stream that produces more than the contents length is damaged (one
//   more byte is asked for to find out, into a scratch buffer);
// - a stream given all its stored bytes must end.
// A prefix (inputLimit below the stored length) ends where its input does.
// Damage throws CZLibException: dataError for a checksum or length that
// disagrees, bufferError for a stream cut short.
void ZlibCodec::InflateStream(DWORD inputLimit, DWORD outputLimit) {
  ResetStream();
  CheckZlibResult(inflateInit2(&m_stream, 15));
  struct End {
    z_stream* s;
    ~End() { inflateEnd(s); }
  } end{&m_stream};
  // Wide input into memory: zlib copies its output into its window on every
  // call, so feeding it 512 bytes at a time would cost a second copy of the document.
  const bool wide = typeid(*m_pDst) == typeid(CMemFile);
  std::unique_ptr<BYTE[]> wideInput(wide ? new BYTE[kWideInput] : nullptr);
  BYTE* const input = wide ? wideInput.get() : m_in;
  const UINT inputSize = wide ? kWideInput : kBufferSize;
  Sink sink(*this, m_dwStoredLength, outputLimit);
  DWORD consumed = 0;  // bytes read from the source
  bool ended = false;
  for (;;) {
    if (m_stream.avail_in == 0 && consumed < inputLimit) {
      DWORD left = inputLimit - consumed;
      UINT n = ReadBlock(input, left < inputSize ? left : inputSize);
      if (n == 0) throw CFileException(CFileException::endOfFile, 0, m_pSrc->GetFilePath());
      consumed += n;
      m_stream.next_in = input;
      m_stream.avail_in = n;
    }
    const DWORD produced = static_cast<DWORD>(m_stream.total_out);
    BYTE probe[64];
    const bool probing = produced == outputLimit;
    if (probing) {
      m_stream.next_out = probe;
      m_stream.avail_out = sizeof probe;
    } else {
      sink.Open(m_stream, outputLimit - produced);
    }
    const int result = inflate(&m_stream, Z_NO_FLUSH);
    if (probing) {
      if (m_stream.avail_out != sizeof probe)
        throw CZLibException(CZLibException::dataError,
                             "the stream holds more than the " + std::to_string(outputLimit) + " bytes the record declares");
    } else {
      sink.Close(m_stream);
    }
    if (result == Z_STREAM_END) {
      ended = true;
      break;
    }
    // No progress possible: every byte given has been used.
    if (result == Z_BUF_ERROR && m_stream.avail_in == 0) break;
    // zlib's own words for a data error ("incorrect data check": the Adler-32).
    CheckZlibResult(result, m_stream.msg);
    if (m_stream.avail_in == 0 && consumed == inputLimit && m_stream.avail_out != 0) break;
  }
  sink.Flush();
  if (ended) {
    if (m_stream.total_out != outputLimit)
      throw CZLibException(CZLibException::dataError, "the stream holds " + std::to_string(m_stream.total_out) +
                                                          " bytes, the record declares " + std::to_string(outputLimit));
    if (m_stream.total_in != m_dwStoredLength)
      throw CZLibException(CZLibException::dataError, "the stream ends after " + std::to_string(m_stream.total_in) +
                                                          " of " + std::to_string(m_dwStoredLength) + " stored bytes");
  } else if (inputLimit >= m_dwStoredLength) {
    throw CZLibException(CZLibException::bufferError, "the stream does not end within its " +
                                                          std::to_string(m_dwStoredLength) + " stored bytes");
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
