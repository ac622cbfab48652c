#pragma once
// The seam between long-running commands and whoever shows them: the desktop
// windows, batch mode's console, or a test script. Commands yield, report progress
// and ask questions only through this interface.

#include <string>

namespace lumora {

enum class Icon { None, Critical, Exclamation, Question, Information };

class Ui {
public:
    virtual ~Ui() = default;

    /// Let pending events run (Esc may set ErrCode to -16384 here).
    virtual void yield() = 0;
    /// Text of the main window's Status label ("" clears it).
    virtual void status(const std::string& text) = 0;
    /// Draws the optimizer's progress box for 0..1; a negative fraction clears the drawings.
    virtual void progress(double fraction) = 0;
    /// Modal message titled "Lumora"; text is shown exactly as given.
    virtual void message(const std::string& text, Icon icon) = 0;
    /// Yes/No question with the question icon; true for Yes.
    virtual bool ask(const std::string& text) = 0;

    // Main-window pieces that commands below the windows touch.

    /// SetButtons(enable, keep) of the main window.
    virtual void setButtons(bool /*enable*/, int /*keep*/) {}
    /// Whether command button index (1..6) is enabled; without a main window every
    /// command may run.
    virtual bool buttonEnabled(int /*index*/) const { return true; }
    /// Enables or disables the data-file box (txtFile).
    virtual void setFileBoxEnabled(bool /*enable*/) {}
    /// Enables or disables every control of the main window (its other windows stay usable).
    virtual void setMainEnabled(bool /*enable*/) {}
    /// Gives the focus to command button index of the main window.
    virtual void focusButton(int /*index*/) {}
    /// Text of the data-file box (txtFile).
    virtual std::string fileText() const { return fileText_; }
    virtual void setFileText(const std::string& text) { fileText_ = text; }
    /// The open dialog: folder ends with "/", fileName is bare; false when cancelled.
    virtual bool fileDialog(const std::string& /*title*/, const std::string& /*filterName*/,
                            const std::string& /*filterPattern*/, std::string& /*folder*/,
                            std::string& /*fileName*/, bool /*save*/) {
        return false;
    }
    /// Whether the goal-function scan window is shown.
    virtual bool goalWindowVisible() const { return false; }
    /// Refresh of the goal-function window's parameter list after a read.
    virtual void refreshGoalList() {}
    /// Whether the absorption view is shown, and its unloading.
    virtual bool absorptionViewVisible() const { return false; }
    virtual void unloadAbsorptionView() {}
    /// List index of the absorption view's solution list (above 0: one solution shown).
    virtual int absorptionViewIndex() const { return 0; }
    /// Shows (or refreshes) the absorption view after a run.
    virtual void showAbsorptionView() {}
    /// Status-label geometry for the progress box (left, top, width, height in pixels).
    virtual void statusGeometry(int& left, int& top, int& width, int& height) const {
        left = top = 0;
        width = height = 0;
    }
    /// Gives the focus back to the main window.
    virtual void focusMain() {}

protected:
    std::string fileText_;
};

/// A Ui that shows nothing and answers No (the state's default).
class SilentUi : public Ui {
public:
    void yield() override {}
    void status(const std::string&) override {}
    void progress(double) override {}
    void message(const std::string&, Icon) override {}
    bool ask(const std::string&) override { return false; }
};

/// The process-wide silent Ui that a new State starts with.
Ui& DefaultUi();

} // namespace lumora
