#pragma once
// Batch mode: read, optionally optimize and export, save, and summarise.

#include "app/CommandLine.h"
#include "dataset/FitReport.h"

#include <cstdio>
#include <string>

namespace lumora {

/// What a batch run reports at its end.
using BatchSummary = FitReport;

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
