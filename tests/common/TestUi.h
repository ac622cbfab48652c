#pragma once
// A scripted Ui for tests: records every message and status text, answers questions from a
// script, can raise the interrupt at the n-th yield; and the check of the message it showed.

#include "dataset/ReadDataSet.h"
#include "model/State.h"

#include <gtest/gtest.h>

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

/// The one message shown, or none when `text` is ""; "..." ending `text` stands for any rest.
inline void ExpectMessage(const TestUi& ui, const std::string& text, Icon icon = Icon::Critical) {
    ASSERT_EQ(ui.messages.size(), text.empty() ? 0u : 1u)
        << (ui.messages.empty() ? "" : ui.messages[0].text);
    const size_t n = text.ends_with("...") ? text.size() - 3 : std::string::npos;
    for (const auto& m : ui.messages)
        EXPECT_EQ(std::pair(m.text.substr(0, n), m.icon), std::pair(text.substr(0, n), icon));
}

} // namespace lumora::test
