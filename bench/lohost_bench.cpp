// The LibreOffice host on a data set's size (40 solutions by 400 wavelengths) in a
// headless office that the benchmark starts with a private profile and ends: the
// reader's cell-by-cell walk over a freshly opened sheet, and the optimizer's
// result table written cell by cell (sent in blocks by the host).

#include "lohost/LibreOfficeHost.h"
#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"
#include "xlsx/XlsxWriter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

using namespace lumora;
namespace fs = std::filesystem;

constexpr int kSolutions = 40;
constexpr int kWavelengths = 400;
constexpr int kFirstRow = 31;
constexpr int kSpecies = 8;

LibreOfficeOptions Options() {
    LibreOfficeOptions o;
    o.pipe = "lumora-bench-" + std::to_string(getpid());
    o.headless = true;
    o.profileDir = (fs::temp_directory_path() / o.pipe / "profile").string();
    return o;
}

const LibreOfficeOptions& Office() {
    static LibreOfficeOptions o = Options();
    return o;
}

std::string DataSetFile() {
    static std::string path = [] {
        std::string p = (fs::temp_directory_path() / Office().pipe / "set.xlsx").string();
        fs::create_directories(fs::path(p).parent_path());
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> abs(0.0, 2.0);
        std::vector<std::vector<CellValue>> rows(kFirstRow - 1);
        rows[0].emplace_back(std::in_place_type<std::string>, "Benchmark set");
        for (int w = 0; w < kWavelengths; ++w) {
            std::vector<CellValue> row(kSolutions + 1);
            row[0] = 250.0 + w;
            for (int j = 1; j <= kSolutions; ++j) row[static_cast<size_t>(j)] = abs(rng);
            rows.push_back(std::move(row));
        }
        std::string error;
        if (!WriteNewXlsx(p, {{"Data", std::move(rows), {}}}, error))
            std::fprintf(stderr, "%s\n", error.c_str());
        return p;
    }();
    return path;
}

std::shared_ptr<LibreOfficeHost> Host() {
    static std::shared_ptr<LibreOfficeHost> host = [] {
        std::string error;
        auto h = LibreOfficeHost::Connect(Office(), true, error);
        if (!h) std::fprintf(stderr, "%s\n", error.c_str());
        return h;
    }();
    return host;
}

Worksheet* Sheet() {
    auto host = Host();
    if (!host) return nullptr;
    std::string error;
    Workbook* book = host->Open(DataSetFile(), error);
    return book ? book->Worksheets(1) : nullptr;
}

/// Every cell of the spectra, one Value at a time, after the copy was dropped (an
/// edit by someone else does that): one used-range fetch per iteration.
void BM_ReadDataSetCellByCell(benchmark::State& state) {
    Worksheet* s = Sheet();
    if (!s) {
        state.SkipWithError("no office");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        s->SetValue(kFirstRow + kWavelengths + 5, 1, 1.0); // grows the used range: a new fetch
        s->ClearContents(kFirstRow + kWavelengths + 5, 1, kFirstRow + kWavelengths + 5, 1);
        state.ResumeTiming();
        double sum = 0;
        for (int r = 1; r <= kFirstRow + kWavelengths; ++r)
            for (int c = 1; c <= kSolutions + 2; ++c) {
                CellValue v = s->Value(r, c);
                if (auto* d = std::get_if<double>(&v)) sum += *d;
            }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReadDataSetCellByCell)->Unit(benchmark::kMillisecond);

/// The result table (8 species and 40 solutions per wavelength) written cell by cell,
/// and everything in the office when the iteration ends.
void BM_WriteResultTable(benchmark::State& state) {
    Worksheet* s = Sheet();
    if (!s) {
        state.SkipWithError("no office");
        return;
    }
    const int c0 = kSolutions + 2;
    double x = 0;
    for (auto _ : state) {
        for (int r = kFirstRow; r < kFirstRow + kWavelengths; ++r) {
            for (int i = 1; i <= kSpecies; ++i) s->SetValue(r, c0 + i, x += 0.5);
            for (int j = 1; j <= kSolutions; ++j) s->SetValue(r, c0 + kSpecies + 1 + j, x += 0.25);
        }
        s->Block(1, 1, 1, 1); // sends what is queued
    }
}
BENCHMARK(BM_WriteResultTable)->Unit(benchmark::kMillisecond);

/// The same table as one block.
void BM_WriteResultBlock(benchmark::State& state) {
    Worksheet* s = Sheet();
    if (!s) {
        state.SkipWithError("no office");
        return;
    }
    std::vector<std::vector<CellValue>> rows(kWavelengths,
                                             std::vector<CellValue>(kSpecies + kSolutions + 1));
    double x = 0;
    for (auto& row : rows)
        for (auto& v : row) v = x += 0.5;
    for (auto _ : state) s->SetBlock(kFirstRow, kSolutions + 3, rows);
}
BENCHMARK(BM_WriteResultBlock)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string error;
    Host();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TerminateLibreOffice(Office(), error);
    std::error_code ec;
    fs::remove_all(fs::temp_directory_path() / Office().pipe, ec);
    return 0;
}
