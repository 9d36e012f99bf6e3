#include "replicas/tests/load_client.h"

#include <algorithm>
#include <cmath>

#include "host/tests/server_fixture.h"

namespace replicas::test {

LoadClient::LoadClient(const NetnsLab& lab, const std::string& machine, unsigned short port, std::vector<Probe> mix,
                       int connections)
    : m_port(port), m_mix(std::move(mix)) {
  for (int i = 0; i < connections; ++i) m_threads.emplace_back([this, &lab, machine, i] { Run(lab, machine, i); });
}

LoadClient::~LoadClient() { Stop(); }

void LoadClient::Stop() {
  m_stop = true;
  for (std::thread& t : m_threads)
    if (t.joinable()) t.join();
}

std::vector<Sample> LoadClient::Samples() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_samples;
}

void LoadClient::Run(const NetnsLab& lab, const std::string& machine, int first) {
  if (!lab.Join(machine)) {
    ++m_joinFailures;
    return;
  }
  std::vector<Sample> mine;
  std::unique_ptr<host::test::Client> client;
  for (std::size_t i = std::size_t(first); !m_stop; ++i) {
    const Probe& probe = m_mix[i % m_mix.size()];
    Sample s;
    s.sent = Clock::now();
    if (!client) client = std::make_unique<host::test::Client>(m_port);
    if (!client->Connected()) {
      s.why = "no connection";
    } else {
      host::test::Response r = client->Get(probe.target);
      if (r.error) {
        s.why = r.error.message();
        s.cut = r.error == boost::beast::http::error::partial_message;
      }
      else if (r.Status() != 200)
        s.why = "status " + std::to_string(r.Status());
      else if (r.Body().find(probe.marker) == std::string::npos)
        s.why = "no \"" + probe.marker + "\" in " + std::to_string(r.Body().size()) + " bytes";
      else
        s.ok = true;
      if (!s.ok || r.Header("Connection") == "close") client.reset();
    }
    if (!s.ok) {
      s.why = probe.target + ": " + s.why;
      client.reset();
    }
    s.ms = std::chrono::duration<double, std::milli>(Clock::now() - s.sent).count();
    mine.push_back(std::move(s));
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_samples.insert(m_samples.end(), mine.begin(), mine.end());
}

Figures FiguresOf(const std::vector<Sample>& samples, Clock::time_point from, Clock::time_point to) {
  Figures f;
  std::vector<double> ms;
  for (const Sample& s : samples) {
    if (s.sent < from || s.sent >= to) continue;
    ++f.sent;
    if (!s.ok) ++f.failed;
    ms.push_back(s.ms);
  }
  if (ms.empty()) return f;
  std::sort(ms.begin(), ms.end());
  auto rank = [&](double q) { return ms[std::size_t(std::ceil(q * double(ms.size()))) - 1]; };
  f.p50 = rank(0.50);
  f.p99 = rank(0.99);
  f.max = ms.back();
  return f;
}

}  // namespace replicas::test
