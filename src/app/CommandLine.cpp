#include "app/CommandLine.h"

#include "base/NumText.h"
#include "fit/FitSwitches.h"

#include <cmath>
#include <filesystem>
#include <utility>

namespace lumora {

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

/// The value after the option args[i], i moved onto it; nullptr with `missing` as the
/// error when the option ends the line.
const std::string* TakeValue(const std::vector<std::string>& args, size_t& i,
                             const std::string& missing, std::string& error) {
    if (i + 1 >= args.size()) {
        error = missing;
        return nullptr;
    }
    return &args[++i];
}

/// The value after the option args[i], which `named` turns into one of `values`; false
/// with the error when it is missing or unknown.
template <class T, class Named>
bool TakeChoice(const std::vector<std::string>& args, size_t& i, const std::string& what,
                const std::string& values, Named named, std::optional<T>& out, std::string& error) {
    const std::string* value =
        TakeValue(args, i, args[i] + " needs a value (" + values + ")", error);
    if (!value) return false;
    out = named(*value);
    if (!out) error = "Unknown " + what + " \"" + *value + "\" (" + values + ")";
    return out.has_value();
}

/// The switches without a value; false when `a` is none of them.
bool SetFlag(const std::string& a, CommandLine& cl) {
    static const std::pair<const char*, bool CommandLine::*> kFlags[] = {
        {"--batch", &CommandLine::batch},
        {"--optimize", &CommandLine::optimize},
        {"--export", &CommandLine::exportSolutions},
        {"--json", &CommandLine::json},
        {"--gauss", &CommandLine::gauss},
        {"--help", &CommandLine::help},
        {"-h", &CommandLine::help}};
    for (const auto& [name, member] : kFlags)
        if (a == name) {
            cl.*member = true;
            return true;
        }
    return false;
}

std::optional<std::string> HostNamed(const std::string& name) {
    std::string host = LCase(name);
    if (host != "embedded" && host != "libreoffice") return std::nullopt;
    return host;
}

bool TakeFactors(const std::vector<std::string>& args, size_t& i, int16_t& factors,
                 std::string& error) {
    const std::string needs = "--factors needs a whole number of factors, 1 or more";
    const std::string* value = TakeValue(args, i, needs, error);
    const std::optional<double> n = value ? TextToNumber(*value) : std::nullopt;
    if (!n || *n < 1 || *n > 32767 || *n != std::floor(*n)) {
        error = needs;
        return false;
    }
    factors = static_cast<int16_t>(*n);
    return true;
}

/// What an option taking a value made of args[i].
enum class Taken { No, Yes, Failed };

/// The options followed by a value; i moves past the value taken.
Taken TakeValueOption(const std::vector<std::string>& args, size_t& i, CommandLine& cl,
                      std::string& error) {
    const std::string& a = args[i];
    bool ok = false;
    if (a == "--host") {
        std::optional<std::string> host;
        ok = TakeChoice(args, i, "host", "embedded or libreoffice", HostNamed, host, error);
        if (ok) cl.host = *host;
    } else if (a == "--method") {
        ok = TakeChoice(args, i, "method", "lm or descent", MethodNamed, cl.method, error);
    } else if (a == "--intervals") {
        ok = TakeChoice(args, i, "interval method", "hessian or profile", IntervalMethodNamed,
                        cl.intervals, error);
    } else if (a == "--factors") {
        ok = TakeFactors(args, i, cl.factors, error);
    } else if (a == "--new") {
        const std::string* file = TakeValue(args, i, "--new needs the file to create", error);
        if (file) cl.newFile = *file;
        ok = file != nullptr;
    } else {
        return Taken::No;
    }
    return ok ? Taken::Yes : Taken::Failed;
}

/// An argument that is no option: the workbook, which comes once.
bool TakeWorkbook(const std::string& a, CommandLine& cl, std::string& error) {
    if (a.rfind("--", 0) == 0) {
        error = "Unknown option " + a;
        return false;
    }
    if (!cl.workbook.empty()) {
        error = "More than one workbook given: " + a;
        return false;
    }
    cl.workbook = a;
    return true;
}

/// The options that need, or forbid, each other.
bool CheckCombination(const CommandLine& cl, std::string& error) {
    if (cl.batch && cl.workbook.empty()) {
        error = "--batch needs a workbook";
        return false;
    }
    if (!cl.newFile.empty() && (cl.batch || !cl.workbook.empty())) {
        error = "--new goes alone";
        return false;
    }
    if (!cl.batch && (cl.optimize || cl.exportSolutions || cl.json || cl.method || cl.intervals ||
                      cl.gauss || cl.factors)) {
        error = "--optimize, --method, --intervals, --gauss, --factors, --export and --json go "
                "with --batch";
        return false;
    }
    return true;
}
} // namespace

bool IsIeSwitch(const std::string& arg) {
    // "/ie" in any letter case, also inside a longer word; but a workbook path such as
    // /data/ieee/run.xlsx is no switch.
    const std::string l = LCase(arg);
    if (l.find("/ie") == std::string::npos) return false;
    if (EndsWith(l, ".xls") || EndsWith(l, ".xlsx") || EndsWith(l, ".ods")) return false;
    std::error_code ec;
    return !std::filesystem::exists(arg, ec);
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
    CommandLine cl;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (IsIeSwitch(a)) {
            cl.noLimits = true;
            continue;
        }
        if (SetFlag(a, cl)) continue;
        const Taken taken = TakeValueOption(args, i, cl, error);
        if (taken == Taken::Failed) return std::nullopt;
        if (taken == Taken::No && !TakeWorkbook(a, cl, error)) return std::nullopt;
    }
    if (!CheckCombination(cl, error)) return std::nullopt;
    return cl;
}

std::string UsageText() {
    return "Usage:\n"
           "  lumora [/ie] [--host embedded|libreoffice] [WORKBOOK]\n"
           "  lumora --batch WORKBOOK [--optimize [--method lm|descent]\n"
           "         [--intervals hessian|profile]] [--gauss] [--factors N] [--export]\n"
           "         [--json] [/ie] [--host embedded|libreoffice]\n"
           "  lumora --new FILE.xlsx\n"
           "\n"
           "  /ie         skip the temperature, pressure and density range checks\n"
           "  --optimize  refine the Gibbs energies and their 95 % intervals\n"
           "  --method    how: lm (Levenberg-Marquardt) or descent; overrides the\n"
           "              /method= switch of the data set's options\n"
           "  --intervals 95 % intervals: hessian (joint region, symmetric) or profile\n"
           "              (one parameter, asymmetric); overrides /intervals=\n"
           "  --gauss     fit the Gaussian band table on the sheet (the Gaussian mode)\n"
           "  --factors N reduce the data to N principal factors first\n"
           "  --export    write Solutions.txt beside the workbook\n"
           "  --json      print a JSON summary as the last line\n"
           "  --new       write a new data set from the template (an existing file is\n"
           "              never overwritten)\n"
           "  --host      the spreadsheet host; batch mode uses the embedded one unless\n"
           "              told, the desktop program LibreOffice when it is running\n";
}

} // namespace lumora
