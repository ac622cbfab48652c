#pragma once
// The program's own spreadsheet host: .xlsx workbooks held in memory and saved
// in place. A workbook opened once stays open, as in a spreadsheet application,
// so a refresh finds it again; the status bar text and the interactive and
// screen-updating switches are recorded for the main window to show.

#include "sheet/SpreadsheetApp.h"
#include "xlsx/GridWorkbook.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

class EmbeddedHost : public SpreadsheetApp {
public:
    EmbeddedHost() = default;

    /// The process-wide host that "attach" returns.
    static std::shared_ptr<EmbeddedHost> Instance();

    std::string HostName() const override { return "embedded"; }
    std::vector<std::string> Extensions() const override { return {".xlsx"}; }
    void SetVisible(bool visible) override { visible_ = visible; }
    bool Visible() const { return visible_; }

    int WorkbookCount() override { return static_cast<int>(books_.size()); }
    Workbook* WorkbookItem(int index) override;
    /// Returns the open workbook of that file if there is one (without re-reading it),
    /// else loads it; either way it becomes the active workbook.
    Workbook* Open(const std::string& path, std::string& error) override;
    Workbook* ActiveWorkbook() override { return active_; }

    /// Takes a workbook made in memory (tests, generators); it becomes active.
    GridWorkbook* Add(std::unique_ptr<GridWorkbook> book);
    /// Closes every workbook (unsaved changes are dropped). Pointers to them and their
    /// sheets (the state's xlBook and xlSheet, the watcher's Sheet) must be let go first.
    void CloseAll();

    bool DisplayStatusBar() const override { return displayStatusBar_; }
    void SetDisplayStatusBar(bool on) override;
    void SetStatusBar(const std::string& text) override;
    void ResetStatusBar() override;
    bool Interactive() const override { return interactive_; }
    void SetInteractive(bool on) override;
    bool ScreenUpdating() const override { return screenUpdating_; }
    void SetScreenUpdating(bool on) override;

    /// The text the status bar shows now ("" when it is hidden or given back).
    std::string StatusBarText() const { return displayStatusBar_ ? statusText_ : std::string(); }
    /// Called after every change of the status bar or the switches (the main window
    /// shows the text; batch mode may print it).
    void SetListener(std::function<void(const EmbeddedHost&)> listener) {
        listener_ = std::move(listener);
    }

private:
    void Notify() {
        if (listener_) listener_(*this);
    }
    GridWorkbook* Track(std::unique_ptr<GridWorkbook> book);

    std::vector<std::unique_ptr<GridWorkbook>> books_;
    GridWorkbook* active_ = nullptr;
    std::string statusText_;
    bool displayStatusBar_ = true;
    bool interactive_ = true;
    bool screenUpdating_ = true;
    bool visible_ = false;
    std::function<void(const EmbeddedHost&)> listener_;
};

/// The attachHost hook of the shared state for the embedded host: attaching and
/// starting both give the process-wide instance.
std::shared_ptr<SpreadsheetApp> AttachEmbeddedHost(bool start);

} // namespace lumora
