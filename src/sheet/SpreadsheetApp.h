#pragma once
// The spreadsheet host: open workbooks, the active one, status bar and the
// interactive / screen-updating switches.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

class Workbook;

class SpreadsheetApp {
public:
    virtual ~SpreadsheetApp() = default;

    /// Host name for messages ("embedded", "LibreOffice").
    virtual std::string HostName() const = 0;
    /// File extensions this host opens, lower case with the dot (".xlsx").
    virtual std::vector<std::string> Extensions() const = 0;

    virtual void SetVisible(bool visible) = 0;
    virtual int WorkbookCount() = 0;
    /// Workbook by 1-based index.
    virtual Workbook* WorkbookItem(int index) = 0;
    /// Opens a file; nullptr with a reason when it cannot be opened.
    virtual Workbook* Open(const std::string& path, std::string& error) = 0;
    /// Active workbook, nullptr when none.
    virtual Workbook* ActiveWorkbook() = 0;

    virtual bool DisplayStatusBar() const = 0;
    virtual void SetDisplayStatusBar(bool on) = 0;
    /// Status bar text; ResetStatusBar gives the bar back to the host (StatusBar = False).
    virtual void SetStatusBar(const std::string& text) = 0;
    virtual void ResetStatusBar() = 0;
    virtual bool Interactive() const = 0;
    virtual void SetInteractive(bool on) = 0;
    virtual bool ScreenUpdating() const = 0;
    virtual void SetScreenUpdating(bool on) = 0;
};

/// Attaches to the spreadsheet host (start = false) or starts one (start = true);
/// null when there is none.
using HostAttach = std::function<std::shared_ptr<SpreadsheetApp>(bool start)>;

} // namespace lumora
