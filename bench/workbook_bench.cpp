// The embedded host on a data set's size: 40 solutions by 400 wavelengths, and
// the result block the optimizer writes beside the spectra.

#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxWriter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>

namespace {

using namespace lumora;

constexpr int kSolutions = 40;
constexpr int kWavelengths = 400;

std::string DataSetFile() {
    static std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "lumora-bench-set.xlsx").string();
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> abs(0.0, 2.0);
        std::vector<std::vector<CellValue>> rows(30);
        rows[0].emplace_back(std::in_place_type<std::string>, "Benchmark set");
        for (int w = 0; w < kWavelengths; ++w) {
            std::vector<CellValue> row(kSolutions + 1);
            row[0] = 250.0 + w;
            for (int j = 1; j <= kSolutions; ++j) row[j] = abs(rng);
            rows.push_back(std::move(row));
        }
        NewSheet sheet;
        sheet.name = "Data";
        sheet.rows = std::move(rows);
        std::string error;
        if (!WriteNewXlsx(p, {sheet}, error)) std::fprintf(stderr, "%s\n", error.c_str());
        return p;
    }();
    return path;
}

void BM_LoadDataSet(benchmark::State& state) {
    std::string path = DataSetFile(), error;
    for (auto _ : state) {
        auto book = GridWorkbook::Load(path, error);
        benchmark::DoNotOptimize(book.get());
    }
}
BENCHMARK(BM_LoadDataSet)->Unit(benchmark::kMillisecond);

void BM_ReadAllCells(benchmark::State& state) {
    std::string error;
    auto book = GridWorkbook::Load(DataSetFile(), error);
    Worksheet* s = book->Worksheets(1);
    for (auto _ : state) {
        double sum = 0;
        for (int r = 31; r <= 30 + kWavelengths; ++r)
            for (int c = 1; c <= kSolutions + 2; ++c) {
                CellValue v = s->Value(r, c);
                if (auto* d = std::get_if<double>(&v)) sum += *d;
            }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kWavelengths * (kSolutions + 2));
}
BENCHMARK(BM_ReadAllCells)->Unit(benchmark::kMicrosecond);

/// Writes the result block (extinction coefficients and calculated absorbances) and saves.
void BM_WriteResultsAndSave(benchmark::State& state) {
    std::string copy = DataSetFile() + ".save.xlsx", error;
    std::filesystem::copy_file(DataSetFile(), copy,
                               std::filesystem::copy_options::overwrite_existing);
    auto book = GridWorkbook::Load(copy, error);
    Worksheet* s = book->Worksheets(1);
    s->SetEvents(false);
    double x = 0;
    for (auto _ : state) {
        for (int r = 31; r <= 30 + kWavelengths; ++r)
            for (int c = kSolutions + 3; c <= 2 * kSolutions + 14; ++c)
                s->SetValue(r, c, x += 1e-3);
        if (!book->Save(error)) state.SkipWithError(error.c_str());
    }
    std::filesystem::remove(copy);
}
BENCHMARK(BM_WriteResultsAndSave)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
