#pragma once
// The sheet watcher: notices edits of the data-set sheet made by the user (in the
// host or on disk) and switches event delivery off while the program writes.

#include <functional>
#include <memory>

namespace lumora {

class Worksheet;
class SheetWatcher;

/// The watcher's Changed flag. It reads like a bool; reading it also looks at the
/// file of the watched sheet's workbook, so a version saved on disk by another
/// program counts as an edit (Workbook::ChangedOnDisk). The flag then stays set
/// until it is assigned false; a refresh clears the cause by reloading the file
/// (Workbook::ReloadIfChangedOnDisk) before it reads the sheet.
class ChangedFlag {
public:
    explicit ChangedFlag(SheetWatcher* owner) : owner_(owner) {}
    ChangedFlag(const ChangedFlag&) = delete;
    ChangedFlag& operator=(const ChangedFlag&) = delete;
    ChangedFlag& operator=(bool value) {
        value_ = value;
        return *this;
    }
    operator bool() const;

private:
    SheetWatcher* owner_;
    mutable bool value_ = false;
};

class SheetWatcher {
public:
    SheetWatcher() = default;
    ~SheetWatcher();
    SheetWatcher(const SheetWatcher&) = delete;
    SheetWatcher& operator=(const SheetWatcher&) = delete;

    /// The watched sheet (nullptr for none, also once that sheet object is gone).
    Worksheet* Sheet() const { return alive_.expired() ? nullptr : sheet_; }
    void SetSheet(Worksheet* sheet);
    /// Event delivery of the watched sheet.
    void SetEvents(bool on);
    /// Raised for every edit while events are on.
    void Sheet_Change();
    /// True when the watched sheet's file was saved by another program since the
    /// program last loaded or saved it.
    bool ChangedOnDisk() const;

    /// True after any edit of the watched sheet since the last successful read.
    ChangedFlag Changed{this};

private:
    Worksheet* sheet_ = nullptr;
    std::weak_ptr<const void> alive_;
};

} // namespace lumora
