#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Hands jobs from one thread to a few worker threads, each with a queue of
// its own that it works through in order, a batch at a time, so that the
// two sides meet once per batch rather than once per job. The handing
// thread waits while the chosen queue is full (in jobs or in bytes); a
// waiting worker is woken once its queue holds a few jobs or a large one,
// or when the handing thread turns to another worker (HandOver) or ends
// (Finish), so that a run of small jobs does not pay a wake-up per job.
template <class Job>
class BatchQueues {
public:
    struct Limits {
        // Jobs queued or in hand per worker, at most, and their bytes (a
        // larger job still goes, alone).
        std::size_t files;
        std::uint64_t bytes;
        // Jobs a worker takes at once.
        std::size_t batch;
        // What wakes a waiting worker at once: jobs in its queue, or the
        // bytes of one.
        std::size_t wakeFiles;
        std::uint64_t wakeBytes;
    };
    using Work = std::function<void(std::size_t worker, std::vector<Job>& batch)>;

    explicit BatchQueues(const Limits& limits) : m_limits(limits) {}
    ~BatchQueues() { Finish(); }
    BatchQueues(const BatchQueues&) = delete;
    BatchQueues& operator=(const BatchQueues&) = delete;

    // Starts `workers` threads; worker n calls work(n, batch) for each batch
    // it takes, in the order the jobs were pushed. While *stopped is true,
    // Push no longer waits for room.
    void Start(std::size_t workers, Work work, const std::atomic<bool>* stopped) {
        m_work = std::move(work);
        m_stopped = stopped;
        m_closing = false;
        for (std::size_t number = 0; number < workers; ++number) {
            m_queues.push_back(std::make_unique<Queue>());
        }
        for (std::size_t number = 0; number < workers; ++number) {
            m_queues[number]->thread = std::thread([this, number] { Loop(number); });
        }
    }

    std::size_t Workers() const { return m_queues.size(); }

    // The worker with the fewest jobs in hand; on a tie one other than
    // `current`, so that work spreads.
    std::size_t LeastLoaded(std::size_t current) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t best = current;
        for (std::size_t number = 0; number < m_queues.size(); ++number) {
            const std::size_t pending = m_queues[number]->pendingFiles;
            const std::size_t bestPending = m_queues[best]->pendingFiles;
            if (pending < bestPending ||
                (pending == bestPending && best == current && number != current)) {
                best = number;
            }
        }
        return best;
    }

    // Queues job, of `bytes`, for worker, waiting while its queue is full;
    // with handOver the worker is woken at once.
    void Push(std::size_t worker, Job job, std::uint64_t bytes, bool handOver) {
        Queue& queue = *m_queues[worker];
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopped->load(std::memory_order_acquire) &&
               (queue.pendingFiles >= m_limits.files ||
                (queue.pendingFiles != 0 && queue.pendingBytes + bytes > m_limits.bytes))) {
            m_pusherWaiting = true;
            m_space.wait(lock);
            m_pusherWaiting = false;
        }
        queue.jobs.emplace_back(std::move(job), bytes);
        ++queue.pendingFiles;
        queue.pendingBytes += bytes;
        if (queue.waiting &&
            (handOver || queue.jobs.size() >= m_limits.wakeFiles || bytes >= m_limits.wakeBytes)) {
            queue.ready.notify_one();
        }
    }

    // Wakes worker if it waits with jobs queued.
    void HandOver(std::size_t worker) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Queue& queue = *m_queues[worker];
        if (queue.waiting && !queue.jobs.empty()) {
            queue.ready.notify_one();
        }
    }

    // Lets every worker work through the rest of its queue, then ends the
    // threads.
    void Finish() {
        if (m_queues.empty()) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
            for (const auto& queue : m_queues) {
                queue->ready.notify_one();
            }
        }
        for (const auto& queue : m_queues) {
            queue->thread.join();
        }
        m_queues.clear();
    }

private:
    struct Queue {
        std::deque<std::pair<Job, std::uint64_t>> jobs;
        std::size_t pendingFiles = 0;
        std::uint64_t pendingBytes = 0;
        bool waiting = false;
        std::condition_variable ready;
        std::thread thread;
    };

    void Loop(std::size_t number) {
        Queue& queue = *m_queues[number];
        std::vector<Job> batch;
        for (;;) {
            batch.clear();
            std::uint64_t bytes = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                while (queue.jobs.empty() && !m_closing) {
                    queue.waiting = true;
                    queue.ready.wait(lock);
                    queue.waiting = false;
                }
                if (queue.jobs.empty()) {
                    return;
                }
                while (!queue.jobs.empty() && batch.size() < m_limits.batch) {
                    batch.push_back(std::move(queue.jobs.front().first));
                    bytes += queue.jobs.front().second;
                    queue.jobs.pop_front();
                }
            }
            m_work(number, batch);
            std::lock_guard<std::mutex> lock(m_mutex);
            queue.pendingFiles -= batch.size();
            queue.pendingBytes -= bytes;
            if (m_pusherWaiting) {
                m_space.notify_one();
            }
        }
    }

    const Limits m_limits;
    Work m_work;
    const std::atomic<bool>* m_stopped = nullptr;
    // Guards every queue and the fields below.
    std::mutex m_mutex;
    std::condition_variable m_space;
    bool m_pusherWaiting = false;
    bool m_closing = false;
    std::vector<std::unique_ptr<Queue>> m_queues;
};
