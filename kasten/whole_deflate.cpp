#include "kasten/whole_deflate.h"

#include <libdeflate.h>

#include <memory>

#include "kasten/file_item.h"

namespace whole_deflate {

namespace {

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct FreeDecompressor {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One of each per thread, made on first use: a compressor's tables are
// several hundred kilobytes, and setting them up for every item would cost
// more than compressing a small document. Neither may be shared between
// threads; neither carries anything from one item to the next.
libdeflate_compressor* Compressor() {
  thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> c;
  if (!c) c.reset(libdeflate_alloc_compressor(kLevel));
  if (!c) throw CMemoryException();
  return c.get();
}

libdeflate_decompressor* Decompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> d;
  if (!d) d.reset(libdeflate_alloc_decompressor());
  if (!d) throw CMemoryException();
  return d.get();
}

}  // namespace

std::size_t Bound(std::size_t length) { return libdeflate_zlib_compress_bound(nullptr, length); }

std::size_t Compress(const BYTE* in, std::size_t length, BYTE* out, std::size_t room) {
  const std::size_t n = libdeflate_zlib_compress(Compressor(), in, length, out, room);
  // Only too little room makes it fail; callers give Bound(length).
  if (n == 0) throw CZLibException(CZLibException::bufferError, "no room for the compressed item");
  return n;
}

bool Inflate(const BYTE* in, std::size_t length, BYTE* out, std::size_t room, std::size_t& used,
             std::size_t& produced) {
  used = produced = 0;
  return libdeflate_zlib_decompress_ex(Decompressor(), in, length, out, room, &used, &produced) ==
         LIBDEFLATE_SUCCESS;
}

}  // namespace whole_deflate

namespace whole_deflate {

DWORD Crc32(const void* data, std::size_t length, DWORD crc) {
  return static_cast<DWORD>(libdeflate_crc32(crc, data, length));
}

}  // namespace whole_deflate
