// A fixed set of worker threads with a bounded queue: the extension's calls run here, never on
// the threads that carry the connections.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace parvix_host {

class WorkerPool {
 public:
  // Starts `workers` threads; at most `queue_limit` jobs wait for a free worker.
  WorkerPool(unsigned workers, size_t queue_limit);
  // Runs every job already accepted, then joins the workers.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `job`. Returns false at once, without queuing, when the queue is full. `on_accept`,
  // when given, runs (under the queue's lock) once the job is sure to be taken and before any
  // worker can start it.
  bool TrySubmit(std::function<void()> job, const std::function<void()>& on_accept = nullptr);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  size_t queue_limit_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace parvix_host
