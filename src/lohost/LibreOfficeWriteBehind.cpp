#include "lohost/LibreOfficeWriteBehind.h"

#include "lohost/LibreOfficeSheet.h"

#include <algorithm>

namespace lumora::lo {

namespace {

/// Quiet time after a write before the background thread sends the queues.
constexpr auto kDelay = std::chrono::milliseconds(30);
/// Longest a queued write waits while writes keep coming.
constexpr auto kMaxDelay = std::chrono::milliseconds(250);

} // namespace

WriteBehind::WriteBehind() : thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    FlushAll();
}

void WriteBehind::Queued(LibreOfficeSheet* sheet) {
    since_ = std::chrono::steady_clock::now();
    if (waiting_.empty()) first_ = since_;
    if (std::find(waiting_.begin(), waiting_.end(), sheet) == waiting_.end())
        waiting_.push_back(sheet);
    wake_.notify_one();
}

void WriteBehind::FlushAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto sheets = std::move(waiting_);
    waiting_.clear();
    for (auto* s : sheets) s->FlushLocked();
}

void WriteBehind::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (waiting_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto due = std::min(since_ + kDelay, first_ + kMaxDelay);
        if (std::chrono::steady_clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        auto sheets = std::move(waiting_);
        waiting_.clear();
        for (auto* s : sheets) s->FlushLocked();
    }
}

} // namespace lumora::lo
