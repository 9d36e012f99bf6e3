// Which client addresses may read the host's status pages (/metrics,
// /healthz): a list of "loopback" (127.0.0.0/8 and ::1), "any", single
// addresses and prefixes ("10.0.0.0/8", "fd00::/8"), IPv4 or IPv6. An IPv4
// address written the IPv6 way (::ffff:10.1.2.3) counts as the IPv4 one.
// Both hosts check their peer's address with it; const after parsing, so
// safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

class AddressFilter {
 public:
  // The filter of a comma-separated list; nothing for an entry that is not
  // an address, a prefix with a length beyond the address, or "loopback"/"any".
  static std::optional<AddressFilter> Parse(const std::string& list);
  // Only loopback: the default.
  static AddressFilter Loopback();

  // True when the textual address (as the hosts know their peers) is allowed.
  bool Allows(const std::string& address) const;

 private:
  struct Prefix {
    std::array<std::uint8_t, 16> bytes{};  // IPv4 in the last four, with the ::ffff: marks
    unsigned bits = 0;                     // of all 128
  };
  std::vector<Prefix> m_prefixes;
};

}  // namespace host
