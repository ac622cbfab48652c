#pragma once
// The sheet watcher: notices edits of the data-set sheet made by the user (in the
// host or on disk) and switches event delivery off while the program writes.

#include <functional>

namespace lumora {

class Worksheet;

class xls {
public:
    xls() = default;
    ~xls();
    xls(const xls&) = delete;
    xls& operator=(const xls&) = delete;

    /// The watched sheet (nullptr for none).
    Worksheet* Sheet() const { return sheet_; }
    void SetSheet(Worksheet* sheet);
    /// Event delivery of the watched sheet.
    void SetEvents(bool on);
    /// Raised for every edit while events are on.
    void Sheet_Change();

    /// True after any edit of the watched sheet since the last successful read.
    bool Changed = false;

private:
    Worksheet* sheet_ = nullptr;
};

} // namespace lumora
