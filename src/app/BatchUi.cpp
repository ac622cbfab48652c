#include "app/BatchUi.h"

#include "base/NumText.h"

namespace lumora {

void BatchUi::status(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty()) return;
    std::fprintf(out_, "%s\n", t.c_str());
    std::fflush(out_);
}

void BatchUi::message(const std::string& text, Icon icon) {
    ++messages;
    const char* kind = icon == Icon::Critical      ? "Error: "
                       : icon == Icon::Exclamation ? "Warning: "
                                                   : "";
    std::fprintf(err_, "%s%s\n", kind, Trim(text).c_str());
    std::fflush(err_);
}

bool BatchUi::ask(const std::string& text) {
    repeats_ = (text == lastQuestion_) ? repeats_ + 1 : 1;
    lastQuestion_ = text;
    const bool yes = repeats_ <= kMaxRepeats;
    std::fprintf(err_, "%s %s\n", Trim(text).c_str(), yes ? "Yes" : "No");
    std::fflush(err_);
    return yes;
}

} // namespace lumora
