#include "fit/FitSwitches.h"

#include "base/NumText.h"

namespace lumora {

bool TakeFitSwitches(std::string& options, FitSwitches& switches, std::string& error) {
    static const std::string kKey = "/method=";
    for (;;) {
        // Search the lower-cased text but cut the original: LCase keeps byte positions.
        const size_t p = LCase(options).find(kKey);
        if (p == std::string::npos) return true;
        const size_t value = p + kKey.size();
        size_t end = options.find_first_of("/ \t\r\n", value);
        if (end == std::string::npos) end = options.size();
        const std::string name = options.substr(value, end - value);
        const std::optional<FitMethod> method = MethodNamed(name);
        if (!method) {
            error = "unknown method \"" + name + "\"; /method=lm or /method=descent";
            return false;
        }
        switches.method = *method;
        options = Trim(options.substr(0, p) + options.substr(end));
    }
}

} // namespace lumora
