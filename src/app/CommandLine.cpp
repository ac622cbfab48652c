#include "app/CommandLine.h"

#include "base/NumText.h"
#include "fit/FitSwitches.h"

#include <cmath>
#include <filesystem>

namespace lumora {

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

/// The value after the option args[i], which `named` turns into one of `values`; false
/// with the error when it is missing or unknown.
template <class T, class Named>
bool TakeChoice(const std::vector<std::string>& args, size_t& i, const std::string& what,
                const std::string& values, Named named, std::optional<T>& out, std::string& error) {
    if (i + 1 >= args.size()) {
        error = args[i] + " needs a value (" + values + ")";
        return false;
    }
    out = named(args[++i]);
    if (!out) error = "Unknown " + what + " \"" + args[i] + "\" (" + values + ")";
    return out.has_value();
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
        } else if (a == "--batch") {
            cl.batch = true;
        } else if (a == "--optimize") {
            cl.optimize = true;
        } else if (a == "--export") {
            cl.exportSolutions = true;
        } else if (a == "--json") {
            cl.json = true;
        } else if (a == "--host") {
            if (i + 1 >= args.size()) {
                error = "--host needs a value (embedded or libreoffice)";
                return std::nullopt;
            }
            cl.host = LCase(args[++i]);
            if (cl.host != "embedded" && cl.host != "libreoffice") {
                error = "Unknown host \"" + args[i] + "\" (embedded or libreoffice)";
                return std::nullopt;
            }
        } else if (a == "--method") {
            if (!TakeChoice(args, i, "method", "lm or descent", MethodNamed, cl.method, error))
                return std::nullopt;
        } else if (a == "--intervals") {
            if (!TakeChoice(args, i, "interval method", "hessian or profile", IntervalMethodNamed,
                            cl.intervals, error))
                return std::nullopt;
        } else if (a == "--gauss") {
            cl.gauss = true;
        } else if (a == "--factors") {
            const std::optional<double> n =
                i + 1 < args.size() ? TextToNumber(args[i + 1]) : std::nullopt;
            if (!n || *n < 1 || *n > 32767 || *n != std::floor(*n)) {
                error = "--factors needs a whole number of factors, 1 or more";
                return std::nullopt;
            }
            cl.factors = static_cast<int16_t>(*n);
            ++i;
        } else if (a == "--new") {
            if (i + 1 >= args.size()) {
                error = "--new needs the file to create";
                return std::nullopt;
            }
            cl.newFile = args[++i];
        } else if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a.rfind("--", 0) == 0) {
            error = "Unknown option " + a;
            return std::nullopt;
        } else if (cl.workbook.empty()) {
            cl.workbook = a;
        } else {
            error = "More than one workbook given: " + a;
            return std::nullopt;
        }
    }
    if (cl.batch && cl.workbook.empty()) {
        error = "--batch needs a workbook";
        return std::nullopt;
    }
    if (!cl.newFile.empty() && (cl.batch || !cl.workbook.empty())) {
        error = "--new goes alone";
        return std::nullopt;
    }
    if (!cl.batch && (cl.optimize || cl.exportSolutions || cl.json || cl.method || cl.intervals ||
                      cl.gauss || cl.factors)) {
        error = "--optimize, --method, --intervals, --gauss, --factors, --export and --json go "
                "with --batch";
        return std::nullopt;
    }
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
