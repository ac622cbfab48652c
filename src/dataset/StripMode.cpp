#include "dataset/StripMode.h"

#include "base/NumText.h"

namespace lumora {

void StripMode(std::string& options) {
    // Search the lower-cased text but cut the original: LCase keeps byte positions.
    const size_t p = LCase(options).find("/mode=");
    if (p == std::string::npos) return;
    const size_t rest = p + 7;
    options = Trim(options.substr(0, p) + (rest < options.size() ? options.substr(rest) : ""));
}

} // namespace lumora
