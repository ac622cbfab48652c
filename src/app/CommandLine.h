#pragma once
// The program's command line: desktop and batch forms.

#include "fit/Optimize.h"
#include "model/IntervalMethod.h"

#include <optional>
#include <string>
#include <vector>

namespace lumora {

struct CommandLine {
    /// "--batch WORKBOOK": run without a display
    bool batch = false;
    /// "--optimize": optimize (with intervals) after reading
    bool optimize = false;
    /// "--export": write Solutions.txt
    bool exportSolutions = false;
    /// "--json": last line of stdout is a JSON summary
    bool json = false;
    /// "/ie" among the options (any letter case): no range checks
    bool noLimits = false;
    /// "--host embedded|libreoffice"; empty for automatic choice
    std::string host;
    /// "--method lm|descent": overrides the data set's "/method="; unset: the data set's
    std::optional<FitMethod> method;
    /// "--intervals hessian|profile": overrides the data set's "/intervals="; unset: the
    /// data set's
    std::optional<IntervalMethod> intervals;
    /// "--gauss": fit the band table on the sheet (the Gaussian mode)
    bool gauss = false;
    /// "--factors N": reduce the data to N principal factors (0: the data as measured)
    int16_t factors = 0;
    /// The workbook path given on the command line, "" when none
    std::string workbook;
    /// "--new FILE": write a new data set from the template (never over a file)
    std::string newFile;
    /// "--help"
    bool help = false;
};

/// Parses the arguments (without the program name). On a usage error returns nothing
/// and sets error.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

/// True for an argument that is the "/ie" switch rather than a workbook path.
bool IsIeSwitch(const std::string& arg);

/// Usage text for --help and errors.
std::string UsageText();

} // namespace lumora
