#include "fit/FitSwitches.h"

#include "base/NumText.h"

namespace lumora {

namespace {

/// Takes every "KEY=NAME" switch out of the options; parse turns a name into the setting
/// (false for an unknown one, which stays in the options).
template <class Parse> bool TakeSwitch(std::string& options, const std::string& key, Parse parse) {
    for (;;) {
        // Search the lower-cased text but cut the original: LCase keeps byte positions.
        const size_t p = LCase(options).find(key);
        if (p == std::string::npos) return true;
        const size_t value = p + key.size();
        size_t end = options.find_first_of("/ \t\r\n", value);
        if (end == std::string::npos) end = options.size();
        if (!parse(options.substr(value, end - value))) return false;
        options = Trim(options.substr(0, p) + options.substr(end));
    }
}

} // namespace

std::optional<IntervalMethod> IntervalMethodNamed(const std::string& name) {
    const std::string n = LCase(name);
    if (n == "hessian") return IntervalMethod::Hessian;
    if (n == "profile") return IntervalMethod::Profile;
    return std::nullopt;
}

bool TakeFitSwitches(std::string& options, FitSwitches& switches, std::string& error) {
    const bool methods = TakeSwitch(options, "/method=", [&](const std::string& name) {
        const std::optional<FitMethod> method = MethodNamed(name);
        if (method)
            switches.method = *method;
        else
            error = "unknown method \"" + name + "\"; /method=lm or /method=descent";
        return method.has_value();
    });
    return methods && TakeSwitch(options, "/intervals=", [&](const std::string& name) {
               const std::optional<IntervalMethod> method = IntervalMethodNamed(name);
               if (method)
                   switches.intervals = *method;
               else
                   error = "unknown interval method \"" + name +
                           "\"; /intervals=hessian or /intervals=profile";
               return method.has_value();
           });
}

} // namespace lumora
