#include "host/address_filter.h"

#include <arpa/inet.h>

#include <cstring>

namespace host {

namespace {

// The 16 bytes of an address, IPv4 mapped into IPv6 (::ffff:a.b.c.d).
std::optional<std::array<std::uint8_t, 16>> Bytes(const std::string& text) {
  std::array<std::uint8_t, 16> bytes{};
  in_addr v4{};
  if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    bytes[10] = bytes[11] = 0xFF;
    std::memcpy(&bytes[12], &v4, 4);
    return bytes;
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    std::memcpy(bytes.data(), &v6, 16);
    return bytes;
  }
  return std::nullopt;
}

bool IsMappedV4(const std::array<std::uint8_t, 16>& b) {
  for (int i = 0; i < 10; ++i)
    if (b[i]) return false;
  return b[10] == 0xFF && b[11] == 0xFF;
}

}  // namespace

std::optional<AddressFilter> AddressFilter::Parse(const std::string& list) {
  AddressFilter filter;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    std::string entry = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? list.size() + 1 : comma + 1;
    if (entry == "loopback") {
      const AddressFilter loopback = *Parse("127.0.0.0/8,::1");
      for (const Prefix& p : loopback.m_prefixes) filter.m_prefixes.push_back(p);
      continue;
    }
    if (entry == "any") {
      filter.m_prefixes.push_back(Prefix{});  // no bits to compare
      continue;
    }
    std::size_t slash = entry.find('/');
    std::optional<std::array<std::uint8_t, 16>> bytes = Bytes(entry.substr(0, slash));
    if (!bytes) return std::nullopt;
    const bool v4 = IsMappedV4(*bytes) && entry.find(':') == std::string::npos;
    unsigned bits = v4 ? 32 : 128;
    if (slash != std::string::npos) {
      std::string length = entry.substr(slash + 1);
      if (length.empty() || length.size() > 3 || length.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
      unsigned n = unsigned(std::stoul(length));
      if (n > bits) return std::nullopt;
      bits = n;
    }
    filter.m_prefixes.push_back(Prefix{*bytes, v4 ? 96 + bits : bits});
  }
  return filter;
}

AddressFilter AddressFilter::Loopback() { return *Parse("loopback"); }

bool AddressFilter::Allows(const std::string& address) const {
  std::optional<std::array<std::uint8_t, 16>> bytes = Bytes(address);
  if (!bytes) return false;
  for (const Prefix& p : m_prefixes) {
    bool match = true;
    for (unsigned i = 0; i < p.bits && match; ++i) {
      const unsigned byte = i / 8, bit = 7 - i % 8;
      match = ((p.bytes[byte] >> bit) & 1) == (((*bytes)[byte] >> bit) & 1);
    }
    if (match) return true;
  }
  return false;
}

}  // namespace host
