// fit_scale: the optimizer on data sets of real size. Generates the sets described by
// bench/fit_scale_*.toml with lumora-makeset and runs lumora in batch mode on fresh copies:
//   read   `lumora --batch SET --json` (read and one evaluation; nothing is saved)
//   save   the same set with every species fixed by a "Result" value, `--optimize`: read,
//          one evaluation, the calculated spectra written and the workbook saved
//   METHOD `lumora --batch SET --optimize --json [--method METHOD]`: read, optimize,
//          intervals, save
// and prints iterations, goal evaluations, CPU per evaluation (CPU of the run divided by the
// evaluations), CPU of the run (user + system of the child) and its peak memory (maxrss).
//
// Usage: fit_scale [--method lm|descent] [--sets 20x141,50x701,200x2000] [--timeout SECONDS]
//                  [--keep DIR]
// Without --method both methods run when lumora has the --method switch, else its only one.

#include "xlsx/GridWorkbook.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Options {
    std::vector<std::string> methods; ///< empty: both when lumora has them, else the default
    std::vector<std::string> sets = {"20x141", "50x701", "200x2000"};
    /// A run taking longer is stopped (s)
    double timeout = 900;
    /// Folder for the generated sets and the copies (empty: a temporary one, removed)
    std::string keep;
};

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    /// User + system CPU of the child (s)
    double cpu = 0;
    /// Peak resident memory of the child (MB)
    double peakMb = 0;
    std::string out;
};

/// Runs argv with stdout captured (stderr dropped), stopped after timeout seconds.
RunResult Run(const std::vector<std::string>& argv, const fs::path& outFile, double timeout) {
    RunResult r;
    std::fflush(nullptr); // or the child writes the parent's buffered output again
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (!std::freopen(outFile.c_str(), "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (done < 0 || elapsed > timeout) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        usleep(20000);
    }
    r.finished = WIFEXITED(status);
    r.exitCode = r.finished ? WEXITSTATUS(status) : -1;
    r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    r.peakMb = double(usage.ru_maxrss) / 1024.0;
    std::ifstream in(outFile);
    r.out.assign(std::istreambuf_iterator<char>(in), {});
    return r;
}

/// The number after "key": in the JSON line, or nothing.
std::optional<double> JsonNumber(const std::string& out, const std::string& key) {
    const size_t line = out.rfind("{\"ErrCode\"");
    if (line == std::string::npos) return std::nullopt;
    const size_t at = out.find("\"" + key + "\":", line);
    if (at == std::string::npos) return std::nullopt;
    return std::strtod(out.c_str() + at + key.size() + 3, nullptr);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--method" && value) {
            o.methods = {argv[++i]};
        } else if (a == "--sets" && value) {
            o.sets.clear();
            std::stringstream list(argv[++i]);
            for (std::string s; std::getline(list, s, ',');) o.sets.push_back(s);
        } else if (a == "--timeout" && value) {
            o.timeout = std::atof(argv[++i]);
        } else if (a == "--keep" && value) {
            o.keep = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    return o;
}

/// lumora's usage text names the switch once the method can be chosen.
bool HasMethodSwitch(const fs::path& work) {
    const RunResult help = Run({LUMORA_EXE, "--help"}, work / "help.txt", 30);
    return help.out.find("--method") != std::string::npos;
}

/// Generates one set; the true Gibbs energies lumora-makeset reports, in species order.
std::optional<std::vector<double>> Generate(const std::string& set, const fs::path& xlsx,
                                            const fs::path& work) {
    const std::string description = std::string(FIT_SCALE_DIR) + "/fit_scale_" + set + ".toml";
    const RunResult r = Run({MAKESET_EXE, description, xlsx.string()}, work / "makeset.txt", 600);
    if (!r.finished || r.exitCode != 0) return std::nullopt;
    std::vector<double> trueG;
    std::stringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (const size_t at = line.find("true G = "); at != std::string::npos)
            trueG.push_back(std::strtod(line.c_str() + at + 9, nullptr));
    return trueG;
}

/// Fixes every species at its true Gibbs energy: writes them into the "Result" column.
bool FixAllSpecies(const fs::path& xlsx, const std::vector<double>& trueG) {
    std::string error;
    auto book = lumora::GridWorkbook::Load(xlsx.string(), error);
    if (!book) return false;
    lumora::Worksheet* sheet = book->Worksheets(1);
    for (int row = 1; row <= 40; ++row) {
        if (sheet->Value(row, 1) != lumora::CellValue{std::string("Species:")}) continue;
        for (size_t k = 0; k < trueG.size(); ++k) sheet->SetValue(row + 1 + int(k), 4, trueG[k]);
        return book->Save(error);
    }
    return false;
}

void PrintHeader() {
    std::printf("%-9s %-8s %6s %7s %10s %9s %8s  %s\n", "Set", "Run", "Iter.", "Evals", "CPU/eval",
                "CPU", "Peak", "Error");
}

/// One line of the table; the read and save runs optimize nothing (the save run's "Nothing
/// to optimize" is its purpose), so they show no iterations and no time per evaluation.
void PrintRow(const std::string& set, const std::string& name, const RunResult& r, double timeout,
              bool optimizing) {
    if (!r.finished) {
        std::printf("%-9s %-8s stopped after %.0f s (%.2f s CPU, %.0f MB peak so far)\n",
                    set.c_str(), name.c_str(), timeout, r.cpu, r.peakMb);
        return;
    }
    const double iters = JsonNumber(r.out, "iterations").value_or(0);
    const double evals = JsonNumber(r.out, "evaluations").value_or(0);
    const double err = JsonNumber(r.out, "RmsErr").value_or(0);
    const double code = JsonNumber(r.out, "ErrCode").value_or(0);
    char iterText[16] = "-", perEval[24] = "-";
    if (optimizing) {
        std::snprintf(iterText, sizeof iterText, "%.0f", iters);
        std::snprintf(perEval, sizeof perEval, "%.3f ms", evals > 0 ? 1000 * r.cpu / evals : 0);
    }
    const std::string note =
        optimizing && code != 0 ? "  (ErrCode " + std::to_string(int(code)) + ")" : "";
    std::printf("%-9s %-8s %6s %7.0f %10s %7.2f s %5.0f MB  %.7g%s\n", set.c_str(), name.c_str(),
                iterText, evals, perEval, r.cpu, r.peakMb, err, note.c_str());
}

/// A fresh copy of the set, with the system file beside it.
fs::path FreshCopy(const fs::path& set, const fs::path& work, const std::string& name) {
    const fs::path copy = work / name;
    fs::copy_file(set, copy, fs::copy_options::overwrite_existing);
    return copy;
}

bool BenchSet(const Options& o, const std::string& set, const std::vector<std::string>& methods,
              bool methodSwitch, const fs::path& work) {
    const fs::path xlsx = work / ("fit_scale_" + set + ".xlsx");
    const auto trueG = Generate(set, xlsx, work);
    if (!trueG) {
        std::fprintf(stderr, "fit_scale: lumora-makeset failed for %s\n", set.c_str());
        return false;
    }
    const fs::path out = work / "out.txt";
    const std::string lumora = LUMORA_EXE;
    PrintRow(set, "read",
             Run({lumora, "--batch", FreshCopy(xlsx, work, "read.xlsx"), "--json"}, out, o.timeout),
             o.timeout, false);
    const fs::path fixed = FreshCopy(xlsx, work, "save.xlsx");
    if (FixAllSpecies(fixed, *trueG))
        PrintRow(set, "save",
                 Run({lumora, "--batch", fixed, "--optimize", "--json"}, out, o.timeout), o.timeout,
                 false);
    for (const std::string& method : methods) {
        std::vector<std::string> args = {lumora, "--batch", FreshCopy(xlsx, work, "opt.xlsx"),
                                         "--optimize", "--json"};
        if (methodSwitch) args.insert(args.end(), {"--method", method});
        PrintRow(set, method, Run(args, out, o.timeout), o.timeout, true);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "Usage: fit_scale [--method lm|descent] [--sets 20x141,50x701,...] "
                             "[--timeout SECONDS] [--keep DIR]\n");
        return 2;
    }
    const bool temporary = options->keep.empty();
    const fs::path work =
        temporary ? fs::temp_directory_path() / ("lumora-fit-scale-" + std::to_string(getpid()))
                  : fs::path(options->keep);
    fs::create_directories(work);
    fs::copy_file(std::string(FIT_SCALE_DIR) + "/fit_scale_system.toml",
                  work / "fit_scale_system.toml", fs::copy_options::overwrite_existing);

    const bool methodSwitch = HasMethodSwitch(work);
    std::vector<std::string> methods = options->methods;
    if (!methodSwitch) {
        if (!methods.empty())
            std::printf("lumora has no --method switch yet: its only method runs\n");
        methods = {"optimize"};
    } else if (methods.empty()) {
        methods = {"lm", "descent"};
    }
    PrintHeader();
    bool ok = true;
    for (const std::string& set : options->sets)
        ok = BenchSet(*options, set, methods, methodSwitch, work) && ok;
    if (temporary) fs::remove_all(work);
    return ok ? 0 : 1;
}
