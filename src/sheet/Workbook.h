#pragma once

#include <string>

namespace lumora {

class Worksheet;

/// Outcome of Workbook::ReloadIfChangedOnDisk.
enum class ReloadResult {
    Unchanged, ///< the file is as the program last loaded or saved it
    Reloaded,  ///< another program changed it; the sheets now hold the new contents
    Failed     ///< it changed but cannot be read; the sheets are as they were
};

class Workbook {
public:
    virtual ~Workbook() = default;

    /// File name without folder.
    virtual std::string Name() const = 0;
    /// Full path of the file.
    virtual std::string FullName() const = 0;
    /// Active sheet when it is a worksheet, else nullptr.
    virtual Worksheet* ActiveSheet() = 0;
    /// Worksheet by 1-based index, nullptr when absent.
    virtual Worksheet* Worksheets(int index) = 0;
    virtual int WorksheetCount() const = 0;
    virtual void Activate() = 0;
    /// True when the program changed it since the last save (writing a cell's own value
    /// again or clearing an empty cell is no change).
    virtual bool Dirty() const = 0;
    /// Sets whether the next save has anything to write: writes that only mirror what
    /// the program read need no save of their own.
    virtual void SetDirty(bool dirty) = 0;
    /// Saves the file (atomically where the host writes it itself); false with a reason.
    virtual bool Save(std::string& error) = 0;

    /// True when another program changed the file since the program last loaded or
    /// saved it (the program's own saves do not count). Hosts that see edits live
    /// (through change events) have nothing to check.
    virtual bool ChangedOnDisk() { return false; }
    /// Reloads the workbook from its file when ChangedOnDisk() is true; call it at the
    /// start of a refresh of an already open workbook. Sheet objects stay valid: a sheet
    /// is refilled from the sheet of the same name in the file, else from the one at its
    /// position (renamed by the user), keeping its change handler and events switch; a
    /// sheet that the file no longer has is left empty and out of Worksheets() (take
    /// ActiveSheet() again when it matters). Unsaved writes of the program are dropped:
    /// the file is the user's. Failed leaves everything as it was, with the reason in
    /// error.
    virtual ReloadResult ReloadIfChangedOnDisk(std::string& error) {
        (void)error;
        return ReloadResult::Unchanged;
    }
};

} // namespace lumora
