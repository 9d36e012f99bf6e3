// The slow-client attack against a running server: slow connections that
// send their heads a byte at a time, from one or many loopback addresses,
// while well-behaved readers fetch a page; prints how the readers fared.
// bench/slowloris_bench.sh starts the server and runs the scenarios.
//
//   slowloris_bench PORT TARGET SLOW SOURCES SECONDS [READERS REQUESTS]
//
// SOURCES: the number of source addresses the slow connections come from
// (127.0.0.2 upwards; 0: 127.0.0.1, the readers' own address).
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host/tests/slow_clients.h"

using namespace std::chrono_literals;

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: slowloris_bench PORT TARGET SLOW SOURCES SECONDS [READERS REQUESTS]\n");
    return 2;
  }
  const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
  const std::string target = argv[2];
  const std::size_t slowCount = std::strtoul(argv[3], nullptr, 10);
  const int sourceCount = std::atoi(argv[4]);
  const auto seconds = std::chrono::seconds(std::atoi(argv[5]));
  const std::size_t readers = argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 5;
  const std::size_t requests = argc > 7 ? std::strtoul(argv[7], nullptr, 10) : 7;

  std::vector<std::string> sources;
  for (int i = 0; i < sourceCount; ++i)
    sources.push_back("127.0." + std::to_string((i + 2) / 256) + "." + std::to_string((i + 2) % 256));
  if (sources.empty()) sources.push_back("127.0.0.1");

  host::test::SlowClients slow(port, sources, slowCount);
  auto trickle = std::async(std::launch::async, [&] { slow.Trickle(1s, seconds); });
  std::this_thread::sleep_for(1s);
  // Readers spread their requests over the attack: one request, then a pause.
  auto pause = seconds / (requests + 1);
  host::test::RequestTally total;
  for (std::size_t i = 0; i < requests; ++i) {
    host::test::RequestTally t = host::test::SendRequests(port, target, readers, 1);
    total.sent += t.sent;
    total.ok += t.ok;
    total.refused += t.refused;
    total.other += t.other;
    total.timedOut += t.timedOut;
    std::this_thread::sleep_for(pause);
  }
  std::size_t heldAtEnd = slow.Opened() - slow.CountClosed();
  slow.Stop();
  trickle.wait();
  std::printf("slow connections %zu from %zu address(es): %zu still held at the end; readers: %zu sent, %zu answered, "
              "%zu refused, %zu timed out, %zu other\n",
              slowCount, sources.size(), heldAtEnd, total.sent, total.ok, total.refused, total.timedOut, total.other);
  return total.ok == total.sent ? 0 : 1;
}
