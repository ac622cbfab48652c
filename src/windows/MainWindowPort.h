#pragma once
// What the main window offers the other windows: its command buttons, the data-file
// box, the focus, and the result windows it owns. The defaults stand for a program
// without a main window (every command may run, nothing is shown).

#include "dataset/ReadDataSet.h"
#include "dataset/Reread.h"

#include <string>

namespace lumora {

struct State;

/// The six command buttons, numbered as they stand in the window.
enum class Command { None = 0, Open, GoalFunction, Optimize, Speciation, Extinction, Absorption };

class MainWindowPort {
public:
    virtual ~MainWindowPort() = default;

    /// Enables or disables the six buttons; the kept one first on, last off.
    virtual void setButtons(bool /*enable*/, Command /*keep*/) {}
    virtual bool buttonEnabled(Command /*button*/) const { return true; }
    /// Enables or disables the data-file box.
    virtual void setFileBoxEnabled(bool /*enable*/) {}
    /// Enables or disables every control of the main window (its other windows stay usable).
    virtual void setMainEnabled(bool /*enable*/) {}
    virtual void focusButton(Command /*button*/) {}
    /// Gives the focus back to the main window.
    virtual void focusMain() {}
    /// Text of the data-file box.
    virtual std::string fileText() const { return fileText_; }
    virtual void setFileText(const std::string& text) { fileText_ = text; }
    /// The open or save dialog: folder ends with "/", fileName is bare; false when cancelled.
    virtual bool fileDialog(const std::string& /*title*/, const std::string& /*filterName*/,
                            const std::string& /*filterPattern*/, std::string& /*folder*/,
                            std::string& /*fileName*/, bool /*save*/) {
        return false;
    }
    /// Whether the goal-function scan window is shown, and the refresh of its list.
    virtual bool goalWindowVisible() const { return false; }
    virtual void refreshGoalList() {}
    /// The absorption view: shown, closed, its solution list index (above 0: one
    /// solution shown), and a refresh that shows it.
    virtual bool absorptionViewVisible() const { return false; }
    virtual void unloadAbsorptionView() {}
    virtual int absorptionViewIndex() const { return 0; }
    virtual void showAbsorptionView() {}

    /// The reader's request for the workbook the data-file box names, with the dialog.
    ReadRequest readRequest();
    /// Re-reads an edited data set as every command does first; see afterRead.
    RereadResult reread(State& st);
    /// After any read: a good one hands the buttons back (unless the goal window holds
    /// them), and the goal window's list follows the data set.
    void afterRead(State& st);

protected:
    std::string fileText_;
};

/// A port for windows that run without a main window.
MainWindowPort& NoMainWindow();

} // namespace lumora
