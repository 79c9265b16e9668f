#include "platform/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

/// One call of Run: its tasks are handed out by index to whoever asks first.
struct WorkerPool::Job {
    const std::function<void(int)>* m_pTask = nullptr;
    int m_nCount = 0;
    std::atomic<int> m_nNext {0};
    std::atomic<int> m_nFinished {0};

    /// Runs tasks of the job until none is left to take.
    void Help()
    {
        for (int index = m_nNext.fetch_add(1); index < m_nCount; index = m_nNext.fetch_add(1)) {
            (*m_pTask)(index);
            if (m_nFinished.fetch_add(1) + 1 == m_nCount)
                m_nFinished.notify_all();
        }
    }
};

struct WorkerPool::Workers {
    pid_t m_nOwner = ::getpid();
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    /// One entry per helper a job asked for; a helper takes one and works on that job.
    std::deque<std::shared_ptr<Job>> m_Queue;
    std::vector<std::thread> m_Threads;
    bool m_bStopping = false;

    explicit Workers(int count)
    {
        m_Threads.reserve(static_cast<std::size_t>(std::max(count, 0)));
        // A process short of memory or threads (an address-space limit takes a thread's stack
        // too) works with the threads that did start: the caller always takes part.
        try {
            for (int i = 0; i < count; ++i)
                m_Threads.emplace_back([this] { Serve(); });
        } catch (const std::system_error&) {
        }
    }
    ~Workers()
    {
        {
            std::lock_guard lock(m_Mutex);
            m_bStopping = true;
        }
        m_Wake.notify_all();
        for (std::thread& thread : m_Threads)
            thread.join();
    }

    void Serve()
    {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock lock(m_Mutex);
                m_Wake.wait(lock, [this] { return m_bStopping || !m_Queue.empty(); });
                if (m_Queue.empty())
                    return;
                job = std::move(m_Queue.front());
                m_Queue.pop_front();
            }
            job->Help();
        }
    }
};

WorkerPool& WorkerPool::Shared()
{
    // Never destroyed: workers may still be waiting for work while the program exits.
    static WorkerPool* pool = [] {
        const unsigned cores = std::thread::hardware_concurrency();
        return new WorkerPool(static_cast<int>(std::clamp(cores, 1u, 8u)));
    }();
    return *pool;
}

WorkerPool::WorkerPool(int threads) : m_nThreads(std::max(threads, 1))
{
}

WorkerPool::~WorkerPool()
{
    // A pool inherited by a forked child owns threads that do not exist there: leave them be.
    if (m_pWorkers && m_pWorkers->m_nOwner != ::getpid())
        static_cast<void>(m_pWorkers.release());
}

WorkerPool::Workers& WorkerPool::Started()
{
    static std::mutex starting;
    std::lock_guard lock(starting);
    if (m_pWorkers && m_pWorkers->m_nOwner != ::getpid())
        static_cast<void>(m_pWorkers.release()); // the parent's threads; their state may be mid-change
    if (!m_pWorkers)
        m_pWorkers = std::make_unique<Workers>(m_nThreads - 1);
    return *m_pWorkers;
}

void WorkerPool::Run(int count, const std::function<void(int)>& task)
{
    if (count <= 0)
        return;
    auto job = std::make_shared<Job>();
    job->m_pTask = &task;
    job->m_nCount = count;
    int helpers = std::min(count, m_nThreads) - 1;
    if (helpers > 0) {
        Workers& workers = Started();
        helpers = std::min(helpers, static_cast<int>(workers.m_Threads.size()));
    }
    if (helpers > 0) {
        Workers& workers = Started();
        {
            std::lock_guard lock(workers.m_Mutex);
            for (int i = 0; i < helpers; ++i)
                workers.m_Queue.push_back(job);
        }
        if (helpers == 1)
            workers.m_Wake.notify_one();
        else
            workers.m_Wake.notify_all();
    }
    job->Help();
    // Every task is taken; wait for those still running on a worker. A worker that takes the
    // job later finds nothing left and only drops its reference.
    for (int finished = job->m_nFinished.load(); finished < count; finished = job->m_nFinished.load())
        job->m_nFinished.wait(finished);
}
