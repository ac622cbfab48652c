#pragma once
// Batch mode: read, optionally optimize and export, save, and summarise.

#include "app/CommandLine.h"
#include "model/State.h"

#include <cstdio>
#include <string>

namespace lumora {

/// What a batch run reports at its end.
struct BatchSummary {
    int16_t ErrCode = 0;
    std::string ErrMsg;
    /// Square root of the goal function at the final parameters
    double RmsErr = 0;
    int nSol = 0;
    int nWl = 0;
    struct Species {
        std::string name;
        /// Initial and Result Gibbs energies (kJ/mol)
        double initial = 0, result = 0;
        /// 95 % half-width (kJ/mol), 0 when none
        double pm = 0;
        bool free = false;
    };
    std::vector<Species> species;
    int iterations = 0;
    long evaluations = 0;
    double seconds = 0;
    /// What the reader changed of the data (raised probe scales)
    std::vector<std::string> notes;
};

/// Runs the batch commands on a state whose engine components and host are set up.
/// Returns the process exit code (0 on success).
int RunBatchCommands(State& st, const CommandLine& cl, BatchSummary& summary);

/// The whole of `lumora --batch`: engine, host, commands, summary. Exit code.
int RunBatch(const CommandLine& cl, std::FILE* out = stdout, std::FILE* err = stderr);

/// The summary as one JSON object on one line.
std::string SummaryJson(const BatchSummary& s);
/// The summary as text lines.
std::string SummaryText(const BatchSummary& s);

} // namespace lumora
