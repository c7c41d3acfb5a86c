#include "worker_pool.h"

#include <utility>

namespace zntr::host {

WorkerPool::WorkerPool(std::size_t maxWorkers) : maxWorkers_(maxWorkers == 0 ? 1 : maxWorkers) {}

WorkerPool::~WorkerPool() {
    Stop();
}

void WorkerPool::Post(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
        return;
    }
    tasks_.push_back(std::move(task));
    // Tasks already queued are each owed a waiting worker; start one when none is left over.
    if (waiting_ < tasks_.size() && workers_.size() < maxWorkers_) {
        workers_.emplace_back([this] { Work(); });
    } else {
        taskPosted_.notify_one();
    }
}

void WorkerPool::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return tasks_.empty() && running_ == 0; });
}

void WorkerPool::Stop() {
    std::vector<std::thread> workers;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return tasks_.empty() && running_ == 0; });
        stopping_ = true;
        workers.swap(workers_);
    }
    taskPosted_.notify_all();
    for (std::thread& worker : workers) {
        worker.join();
    }
}

std::size_t WorkerPool::WorkerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return workers_.size();
}

void WorkerPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++waiting_;
        taskPosted_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        --waiting_;
        if (tasks_.empty()) {
            return;  // stopping, nothing left
        }
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        ++running_;
        lock.unlock();
        task();
        task = nullptr;  // whatever the task held goes before the pool counts it done
        lock.lock();
        --running_;
        if (tasks_.empty() && running_ == 0) {
            idle_.notify_all();
        }
    }
}

}  // namespace zntr::host
