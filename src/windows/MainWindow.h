#pragma once
// The main window MainWindow: six command buttons, the data-file box and three text
// lines. Every command starts here.

#include "model/State.h"
#include "windows/MainWindowPort.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <functional>

namespace lumora {

class AppWindows;
class ResultPanel;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    /// settingsFolder: where "Lumora.ini" lives (the user's configuration folder).
    MainWindow(State& st, std::string settingsFolder, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// The start-up sequence; false when the program must end (the window is closed).
    bool Load();
    /// Fills the data-file box and the working folder from a workbook path.
    void SetWorkbookPath(const std::string& path);

    void RunCommand(Command command);
    /// Enables or disables the six buttons; the kept one first on, last off.
    void SetButtons(bool enable, Command keep);
    /// Esc: the interrupt request, only while a command runs.
    void KeyPress(int key);
    /// F1, F2, F12 on release without shift, control or alt.
    void KeyUp(int key, Qt::KeyboardModifiers shift);

    QPushButton* Button(Command command) const {
        return buttons_.at(static_cast<size_t>(static_cast<int>(command) - 1));
    }
    QLineEdit* fileEdit() const { return fileEdit_; }
    QLabel* StatusLabel() const { return status_; }
    /// Switches every control of the window on or off (their own states are kept).
    void SetControlsEnabled(bool enable);
    bool ControlsEnabled() const;
    /// True while a command runs (button 1 disabled).
    bool CommandRunning() const;

    /// The goal-function window, for the focus hand-over (nullptr until it exists).
    QWidget* goalWindow = nullptr;
    /// Creates the three engine components (the engine's factory unless replaced).
    std::function<void(State&)> createComponents;
    /// The result windows the commands open (null: none), and the port they are shown
    /// through (the defaults of a port without a window when none is set).
    void SetWindows(AppWindows* windows) { windows_ = windows; }
    void SetPort(MainWindowPort* port) { port_ = port; }
    MainWindowPort& Port() const;
    /// Called after every command, e.g. to save the workbook the command wrote into.
    std::function<void()> afterCommand;
    /// Called before every command, and after every "Open / Refresh" (also a failed one:
    /// the sheet may show why).
    std::function<void()> beforeCommand;
    std::function<void()> afterRead;
    /// "New data set..." (Ctrl+N); nothing when unset.
    std::function<void()> newDataSet;
    /// The results of the last read or optimization, under the buttons.
    ResultPanel* Results() const { return results_; }
    /// Draws the progress box over the Status label (fraction < 0 clears it).
    void SetProgress(double fraction);

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Layout();
    void Shutdown();
    void OpenDataSet();
    void RunOptimize();
    void ExportCommand();
    /// Shows the state's report under the buttons and makes room for it.
    void ShowReport(bool readOk, bool optimized);
    void PlaceResults();

    State& st_;
    AppWindows* windows_ = nullptr;
    MainWindowPort* port_ = nullptr;
    std::string settingsFolder_;
    bool settingsRead_ = false;
    bool shutDown_ = false;
    QWidget* client_ = nullptr;
    std::array<QPushButton*, 6> buttons_{};
    QLineEdit* fileEdit_ = nullptr;
    QLabel* fileLabel_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QLabel* copyrightLabel_ = nullptr;
    QWidget* progressBox_ = nullptr;
    ResultPanel* results_ = nullptr;
};

} // namespace lumora
