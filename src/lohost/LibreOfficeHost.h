#pragma once
// LibreOffice Calc as the spreadsheet host, driven through UNO over a named pipe:
// attach to a running office or start one, Calc documents as workbooks, live
// change events. No UNO type appears here; callers see only the host interface.

#include "sheet/SpreadsheetApp.h"

#include <memory>
#include <string>
#include <vector>

namespace lumora {

/// How to reach or start the office.
struct LibreOfficeOptions {
    /// Name of the pipe the office accepts UNO connections on.
    std::string pipe = "lumora";
    /// The office program started when none answers.
    std::string program = "soffice";
    /// Start the office without windows (tests, servers).
    bool headless = false;
    /// Profile folder of a started office ("" for the user's own profile).
    std::string profileDir;
    /// Seconds to wait for a started office to answer on the pipe.
    double startTimeout = 60.0;
};

/// The options of the program's host: the pipe "lumora", or LUMORA_LO_PIPE when set;
/// headless when there is no display.
LibreOfficeOptions DefaultLibreOfficeOptions();

/// True when an office answers on the pipe (a quick look, nothing is started).
bool LibreOfficeAnswers(const LibreOfficeOptions& options);

/// Starts an office with --accept on the options' pipe, detached from this process
/// (it outlives the program). False with a reason when the program cannot be run.
bool StartLibreOffice(const LibreOfficeOptions& options, std::string& error);

/// Ends the office answering on the pipe. Only for whoever started it (tests,
/// scripts): the program itself never ends an office.
bool TerminateLibreOffice(const LibreOfficeOptions& options, std::string& error);

class LibreOfficeHost : public SpreadsheetApp {
public:
    struct Impl;

    /// Connects to the office on the options' pipe; when none answers and start is
    /// true, starts one and waits for it. nullptr with a reason on failure.
    static std::shared_ptr<LibreOfficeHost> Connect(const LibreOfficeOptions& options, bool start,
                                                    std::string& error);
    ~LibreOfficeHost() override;
    LibreOfficeHost(const LibreOfficeHost&) = delete;
    LibreOfficeHost& operator=(const LibreOfficeHost&) = delete;

    /// False once the office has gone away (closed by the user, crashed).
    bool Connected() const;
    /// Connects again (starting an office when start is true); the workbooks of the
    /// old connection stay valid objects that answer with errors.
    bool Reconnect(bool start, std::string& error);

    std::string HostName() const override { return "LibreOffice"; }
    std::vector<std::string> Extensions() const override { return {".xls", ".xlsx", ".ods"}; }

    void SetVisible(bool visible) override;
    /// Open Calc documents, refreshed from the office.
    int WorkbookCount() override;
    /// Workbook by 1-based index in the order of the last WorkbookCount().
    Workbook* WorkbookItem(int index) override;
    /// Loads the file in the office, or brings its open document to the front.
    Workbook* Open(const std::string& path, std::string& error) override;
    /// The office's current document when it is a Calc document.
    Workbook* ActiveWorkbook() override;

    bool DisplayStatusBar() const override;
    void SetDisplayStatusBar(bool on) override;
    /// Text in the status bar of the active document's window.
    void SetStatusBar(const std::string& text) override;
    void ResetStatusBar() override;
    /// Off: the document windows take no input from the user.
    bool Interactive() const override;
    void SetInteractive(bool on) override;
    /// Off: the documents' controllers are locked (no repaint while the program writes).
    bool ScreenUpdating() const override;
    void SetScreenUpdating(bool on) override;

    /// Closes the documents this host loaded, dropping what was not saved; those that
    /// were open before it came stay open. A batch run leaves no copy behind that a
    /// later run could take for the file.
    void CloseOpenedWorkbooks();

    /// Hands edits that arrived from the office (on its threads) to the change
    /// handlers of their sheets, on the calling thread. Reading the watcher's
    /// Changed does this too.
    void DeliverChanges();

private:
    explicit LibreOfficeHost(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

/// The attachHost hook of the shared state for the LibreOffice host: one host per
/// process on the default pipe while the program holds it, reconnected when its office
/// has gone; start = true starts a visible office when none answers. nullptr when no
/// office can be reached. Release it before main returns.
std::shared_ptr<SpreadsheetApp> AttachLibreOfficeHost(bool start);

} // namespace lumora
