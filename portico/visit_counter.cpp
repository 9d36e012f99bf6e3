#include "portico/visit_counter.h"

#include <algorithm>
#include <string>

#include "platform/file.h"
#include "platform/registry.h"
#include "portico/settings.h"

namespace portico {

CVisitCounter::~CVisitCounter() { Stop(); }

void CVisitCounter::Count() {
  m_pending.fetch_add(1, std::memory_order_relaxed);
  // Started here rather than with the extension: objects that never count
  // (tests, tools) keep no thread. The flag spares every later visit the lock.
  if (m_started.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(m_thread);
  if (!m_writer.joinable() && !m_stopped) m_writer = std::thread([this] { Run(); });
  m_started.store(true, std::memory_order_release);
}

void CVisitCounter::Run() {
  while (!m_stop.WaitFor(kInterval)) Flush();
}

void CVisitCounter::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_thread);
    m_stopped = true;
  }
  m_stop.Set();
  if (m_writer.joinable()) m_writer.join();
  Flush();
}

void CVisitCounter::Flush() {
  std::lock_guard<std::mutex> lock(m_flush);
  const std::uint64_t visits = m_pending.exchange(0);
  if (visits == 0) return;
  const std::string path = CRegistry::DefaultPath();
  const std::string key = SettingsKey("");
  // Checked before the writer's lock too, so that a missing key costs no write.
  if (!FileExists(path) || !CRegistry::Load(path).HasKey(key)) return;
  const bool written = CRegistry::Update(path, [&](CRegistry& registry) {
    if (!registry.HasKey(key)) return;
    std::optional<RegValue> value = registry.Value(key, kValueName);
    // What other processes wrote since is on disk now: add to it. The
    // counter only grows; it stops at the largest value a DWORD holds.
    const std::uint64_t before = value && value->type == RegValue::Dword ? value->dword : 0;
    registry.SetDword(key, kValueName, static_cast<DWORD>(std::min<std::uint64_t>(before + visits, 0xFFFFFFFF)));
  });
  if (!written) m_pending.fetch_add(visits);
}

}  // namespace portico
