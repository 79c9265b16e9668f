#pragma once
// A small pool of worker threads for splitting one large piece of work, such as coding the
// payload of a large map, over the machine's cores.

#include <functional>
#include <memory>

/// Runs the tasks of a job on the pool's threads and on the calling thread together. The caller
/// always takes part, so a job finishes even while every worker is busy with another caller's
/// job, and a task may itself run a job. The tasks of one job run in no particular order and
/// possibly at the same time; a task must not wait for another task of its own job to start.
class WorkerPool {
public:
    /// The pool the program shares: as many threads as the machine has cores, at most 8.
    static WorkerPool& Shared();

    /// A pool of threads threads in all, the calling thread of each job included (at least 1).
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    /// Threads a job can use at once, the caller included.
    int Threads() const { return m_nThreads; }

    /// Calls task(0) to task(count - 1), each once, on at most Threads() threads, and returns
    /// when every call has returned.
    void Run(int count, const std::function<void(int)>& task);

private:
    struct Job;
    struct Workers;
    /// The worker threads, started on first use and started again in a forked child, which
    /// inherits the pool but none of its threads.
    Workers& Started();

    int m_nThreads;
    std::unique_ptr<Workers> m_pWorkers;
};
