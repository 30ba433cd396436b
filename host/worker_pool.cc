// The bounded worker pool.
#include "worker_pool.h"

namespace parvix_host {

WorkerPool::WorkerPool(unsigned workers, size_t queue_limit) : queue_limit_(queue_limit) {
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool WorkerPool::TrySubmit(std::function<void()> job, const std::function<void()>& on_accept) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= queue_limit_) return false;
    if (on_accept) on_accept();
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::Run() {
  while (true) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to do
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job();
  }
}

}  // namespace parvix_host
