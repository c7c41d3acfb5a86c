// The framework's callback threads: tasks run on worker threads, as many at once as are posted,
// up to a limit. A worker is started when a task arrives and every worker is busy, so a driver
// callback that blocks (a read that sleeps, a request held pending inside a callback) never
// keeps another request from being dispatched, up to the limit. A worker left idle for a while
// ends (all but one), so a burst of requests does not leave its threads behind.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zntr::host {

class WorkerPool {
  public:
    explicit WorkerPool(std::size_t maxWorkers = 64);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs the task on a worker. After Stop() the task is dropped.
    void Post(std::function<void()> task);
    // Waits until every task posted so far has run.
    void Drain();
    // Drains, then ends and joins every worker.
    void Stop();

  private:
    void Work();
    // Moves the calling worker's thread to finished_; the caller holds mutex_.
    void Retire();

    const std::size_t maxWorkers_;
    mutable std::mutex mutex_;
    std::condition_variable taskPosted_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> workers_;
    std::vector<std::thread> finished_;  // retired workers, joined by the next Post or Stop
    std::size_t waiting_ = 0;            // workers waiting for a task
    std::size_t running_ = 0;            // tasks being run
    bool stopping_ = false;
};

}  // namespace zntr::host
