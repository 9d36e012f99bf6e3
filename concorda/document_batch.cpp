#include "concorda/document_batch.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/exceptions.h"

namespace concorda {

namespace {

// Prepares and reports a thrown failure like a returned one.
bool PrepareOne(const PrepareStep& prepare, std::size_t i, CPreparedDocument& doc, std::string& error) {
  try {
    return prepare(i, doc, error);
  } catch (const CException& e) {
    error = e.GetErrorMessage();
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

// The documents in flight: a ring of slots, slot i % size for document i.
class CPipeline {
 public:
  CPipeline(std::size_t count, std::size_t window) : m_count(count), m_slots(window) {
    for (auto& s : m_slots) s.doc = std::make_unique<CPreparedDocument>();
  }

  // Worker: takes the next document while it fits in the window, prepares it.
  void Work(const PrepareStep& prepare) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [&] { return m_stop || m_next >= m_count || CanTake(); });
      if (m_stop || m_next >= m_count) return;
      PrepareNext(prepare, lock);
    }
  }

  // Writer: stores the documents in order as they become ready. While the
  // next one is not ready it prepares one itself instead of waiting: a
  // thread that sleeps and is woken for every document costs more than the
  // work on a machine with few cores, and the document it waits for may be
  // the one a descheduled worker holds.
  bool Store(const PrepareStep& prepare, const StoreStep& store, std::string& error) {
    for (std::size_t i = 0; i < m_count; ++i) {
      Slot& slot = m_slots[i % m_slots.size()];
      bool failed;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (slot.state == kEmpty) {
          if (CanTake()) PrepareNext(prepare, lock);
          else m_changed.wait(lock, [&] { return slot.state != kEmpty || CanTake(); });
        }
        failed = slot.state == kFailed;
        if (failed) error = slot.error;
      }
      if (failed) return Stop();
      bool ok = false;
      try {
        ok = store(i, *slot.doc, error);
      } catch (...) {
        Stop();
        throw;
      }
      if (!ok) return Stop();
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot.state = kEmpty;
        ++m_stored;
      }
      m_changed.notify_all();
    }
    return true;
  }

  bool Stop() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_all();
    return false;
  }

 private:
  // A document is waiting to be prepared and fits in the window (under the lock).
  bool CanTake() const { return !m_stop && m_next < m_count && m_next < m_stored + m_slots.size(); }

  // Takes the next document and prepares it with the lock released.
  void PrepareNext(const PrepareStep& prepare, std::unique_lock<std::mutex>& lock) {
    const std::size_t i = m_next++;
    Slot& slot = m_slots[i % m_slots.size()];
    lock.unlock();
    std::string error;
    const bool ok = PrepareOne(prepare, i, *slot.doc, error);
    lock.lock();
    slot.state = ok ? kReady : kFailed;
    slot.error = std::move(error);
    m_changed.notify_all();
  }

  enum State { kEmpty, kReady, kFailed };
  struct Slot {
    std::unique_ptr<CPreparedDocument> doc;
    State state = kEmpty;
    std::string error;
  };

  const std::size_t m_count;
  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::size_t m_next = 0;    // the next document a worker takes
  std::size_t m_stored = 0;  // documents stored so far
  bool m_stop = false;
};

}  // namespace

bool RunDocumentBatch(std::size_t count, unsigned jobs, const PrepareStep& prepare, const StoreStep& store,
                      std::string* error) {
  std::string failure;
  bool ok = true;
  if (jobs <= 1 || count <= 1) {
    CPreparedDocument doc;
    for (std::size_t i = 0; i < count && ok; ++i)
      ok = PrepareOne(prepare, i, doc, failure) && store(i, doc, failure);
  } else {
    // The writer prepares documents too when it has none to store, so
    // jobs - 1 workers beside it keep `jobs` cores busy. Some dozens of
    // documents per core ahead of the writer let a worker that the system
    // sets aside for a while hold up nothing.
    CPipeline pipeline(count, 32 * static_cast<std::size_t>(jobs));
    std::vector<std::thread> workers;
    for (unsigned w = 1; w < jobs; ++w) workers.emplace_back([&] { pipeline.Work(prepare); });
    struct Join {
      std::vector<std::thread>& threads;
      CPipeline& pipeline;
      ~Join() {
        pipeline.Stop();
        for (auto& t : threads) t.join();
      }
    } join{workers, pipeline};
    ok = pipeline.Store(prepare, store, failure);
  }
  if (!ok && error) *error = failure;
  return ok;
}

}  // namespace concorda
