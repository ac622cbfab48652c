#pragma once
// A scripted Ui for tests: records every message and status text, answers
// questions from a script, and can raise the interrupt at the n-th yield.

#include "dataset/ReadDataSet.h"
#include "model/State.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace lumora::test {

class TestUi : public Ui {
public:
    explicit TestUi(State& st) : st_(st) { st.ui = this; }
    ~TestUi() override {
        if (st_.ui == this) st_.ui = &DefaultUi();
    }

    struct Shown {
        std::string text;
        Icon icon;
    };

    void yield() override {
        ++yields;
        if (interruptAtYield > 0 && yields == interruptAtYield) st_.ErrCode = kInterrupt;
    }
    void status(const std::string& text) override { statuses.push_back(text); }
    void progress(double) override {}
    void message(const std::string& text, Icon icon) override { messages.push_back({text, icon}); }
    bool ask(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    /// The request the main window's data-file box and open dialog would make.
    ReadRequest request() {
        ReadRequest r;
        r.fileName = fileText;
        r.openDialog = [this](const std::string&, const std::string& filterName,
                              const std::string& filterPattern, std::string& folder,
                              std::string& fileName, bool) {
            dialogFilter = filterName + "|" + filterPattern;
            if (!dialogFolder) return false;
            folder = *dialogFolder;
            fileName = dialogFile;
            return true;
        };
        return r;
    }

    std::vector<Shown> messages;
    std::vector<std::string> statuses;
    std::vector<std::string> questions;
    std::deque<bool> answers;
    long yields = 0;
    long interruptAtYield = 0;
    std::string fileText;                    ///< the data-file box
    std::optional<std::string> dialogFolder; ///< set to make the dialog succeed
    std::string dialogFile;
    std::string dialogFilter;

private:
    State& st_;
};

} // namespace lumora::test
