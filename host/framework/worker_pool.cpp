#include "worker_pool.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

namespace zntr::host {

namespace {
// How long a worker waits for a task before it ends, and how many workers stay regardless.
constexpr std::chrono::seconds kIdleRetirement{2};
constexpr std::size_t kKeptWorkers = 1;
}  // namespace

WorkerPool::WorkerPool(std::size_t maxWorkers) : maxWorkers_(maxWorkers == 0 ? 1 : maxWorkers) {}

WorkerPool::~WorkerPool() {
    Stop();
}

void WorkerPool::Post(std::function<void()> task) {
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished.swap(finished_);
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
    for (std::thread& worker : finished) {
        worker.join();  // it has left Work() already, or is about to
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
        std::move(finished_.begin(), finished_.end(), std::back_inserter(workers));
        finished_.clear();
    }
    taskPosted_.notify_all();
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void WorkerPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++waiting_;
        const bool woken = taskPosted_.wait_for(lock, kIdleRetirement,
                                                [this] { return stopping_ || !tasks_.empty(); });
        --waiting_;
        if (!woken) {
            if (workers_.size() > kKeptWorkers) {
                Retire();
                return;
            }
            continue;
        }
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

void WorkerPool::Retire() {
    const auto self = std::find_if(workers_.begin(), workers_.end(), [](const std::thread& t) {
        return t.get_id() == std::this_thread::get_id();
    });
    if (self != workers_.end()) {
        finished_.push_back(std::move(*self));
        workers_.erase(self);
    }
}

}  // namespace zntr::host
