#pragma once
// Writes of single cells, gathered and sent in blocks. Callers write results one
// cell at a time, and one office call costs about as much as thousands of cells
// in a block; so SetValue only queues the value, and the queue goes out as
// rectangles of cells: before anything else touches the sheet or the office, and
// from a background thread a few milliseconds after the last write, so that what
// the program writes appears in the office while it computes.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumora::lo {

class LibreOfficeSheet;

class WriteBehind {
public:
    WriteBehind();
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    /// Guards every sheet's queue; held while a queue goes out.
    std::mutex& Mutex() { return mutex_; }
    /// Called with Mutex() held when a sheet queues its first cell.
    void Queued(LibreOfficeSheet* sheet);
    /// Sends every queue now (errors stay with their sheets).
    void FlushAll();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<LibreOfficeSheet*> waiting_;
    std::chrono::steady_clock::time_point since_, first_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace lumora::lo
