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
