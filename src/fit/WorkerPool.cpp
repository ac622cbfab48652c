#include "fit/WorkerPool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace lumora {

namespace {

/// Parts are claimed one by one by whichever thread is free, so that a helper that
/// the system schedules late costs no more than running its part on the caller.
class WorkerPool {
public:
    ~WorkerPool() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    /// False when another thread is using the pool.
    bool Run(int n, const std::function<void(int)>& part) {
        const std::unique_lock busy(inUse_, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        {
            const std::lock_guard lock(mutex_);
            while (static_cast<int>(threads_.size()) < n - 1)
                threads_.emplace_back([this] { Serve(); });
            part_ = &part;
            parts_ = n;
            next_ = 0;
            done_ = 0;
            ++round_;
        }
        wake_.notify_all();
        Claim(part, n);
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return done_ == parts_ && helping_ == 0; });
        part_ = nullptr;
        return true;
    }

private:
    /// Runs parts until none is left.
    void Claim(const std::function<void(int)>& part, int n) {
        for (int i = next_++; i < n; i = next_++) {
            part(i);
            const std::lock_guard lock(mutex_);
            if (++done_ == n) finished_.notify_one();
        }
    }

    void Serve() {
        long seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || round_ != seen; });
            if (stop_) return;
            seen = round_;
            if (part_ == nullptr) continue;
            // The caller waits for every helper that took up this round, so that the
            // round's part and count stay valid meanwhile.
            ++helping_;
            const std::function<void(int)>& part = *part_;
            const int n = parts_;
            lock.unlock();
            Claim(part, n);
            lock.lock();
            if (--helping_ == 0) finished_.notify_one();
        }
    }

    std::mutex inUse_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::vector<std::thread> threads_;
    const std::function<void(int)>* part_ = nullptr;
    int parts_ = 0;
    std::atomic<int> next_ = 0;
    int done_ = 0;
    int helping_ = 0;
    long round_ = 0;
    bool stop_ = false;
};

} // namespace

void RunParts(int n, const std::function<void(int)>& part) {
    static WorkerPool pool;
    if (n > 1 && pool.Run(n, part)) return;
    for (int i = 0; i < n; ++i) part(i);
}

} // namespace lumora
