#include "app/CommandLine.h"

#include "base/NumText.h"

#include <filesystem>

namespace lumora {

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
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
            if (i + 1 >= args.size()) {
                error = "--method needs a value (lm or descent)";
                return std::nullopt;
            }
            cl.method = MethodNamed(args[++i]);
            if (!cl.method) {
                error = "Unknown method \"" + args[i] + "\" (lm or descent)";
                return std::nullopt;
            }
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
    if (!cl.batch && (cl.optimize || cl.exportSolutions || cl.json || cl.method)) {
        error = "--optimize, --method, --export and --json go with --batch";
        return std::nullopt;
    }
    return cl;
}

std::string UsageText() {
    return "Usage:\n"
           "  lumora [/ie] [--host embedded|libreoffice] [WORKBOOK]\n"
           "  lumora --batch WORKBOOK [--optimize [--method lm|descent]] [--export] [--json]\n"
           "         [/ie] [--host embedded|libreoffice]\n"
           "  lumora --new FILE.xlsx\n"
           "\n"
           "  /ie         skip the temperature, pressure and density range checks\n"
           "  --optimize  refine the Gibbs energies and their 95 % intervals\n"
           "  --method    how: lm (Levenberg-Marquardt) or descent; overrides the\n"
           "              /method= switch of the data set's options\n"
           "  --export    write Solutions.txt beside the workbook\n"
           "  --json      print a JSON summary as the last line\n"
           "  --new       write a new data set from the template (an existing file is\n"
           "              never overwritten)\n"
           "  --host      the spreadsheet host; batch mode uses the embedded one unless\n"
           "              told, the desktop program LibreOffice when it is running\n";
}

} // namespace lumora
