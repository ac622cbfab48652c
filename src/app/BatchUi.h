#pragma once
// The Ui of batch mode: progress lines on stdout, messages and questions on stderr,
// fixed answers.

#include "base/Ui.h"

#include <cstdio>
#include <map>
#include <string>

namespace lumora {

class BatchUi : public Ui {
public:
    BatchUi(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}

    void yield() override {}
    void status(const std::string& text) override;
    void progress(double) override {}
    void message(const std::string& text, Icon icon) override;
    /// Every question is answered Yes; the same question asked more than kMaxRepeats times
    /// in a row is answered No, so a repeating question cannot loop for ever.
    bool ask(const std::string& text) override;

    static constexpr int kMaxRepeats = 12;
    /// Messages shown so far (for the summary).
    int messages = 0;

private:
    std::FILE* out_;
    std::FILE* err_;
    std::string lastQuestion_;
    int repeats_ = 0;
};

} // namespace lumora
