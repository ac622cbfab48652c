#pragma once
// Files for the workbook tests: a temporary folder, whole-file reads and writes, workbooks
// loaded, and packages taken apart into their parts or built from them.

#include "xlsx/GridWorkbook.h"
#include "xlsx/XlsxPackage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace lumora::test {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "lumora-wb-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
        EXPECT_FALSE(dir.empty());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    /// Entries of the folder (to find left-over temporary files).
    size_t Count() const {
        size_t n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
        return n;
    }
    std::string dir;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Fixture(const std::string& name) {
    return std::string(LUMORA_TEST_DATA_DIR) + "/" + name;
}

/// The workbook at `path`; a failure to load it ends the test.
inline std::unique_ptr<GridWorkbook> LoadOk(const std::string& path) {
    std::string error;
    if (auto book = GridWorkbook::Load(path, error)) return book;
    throw std::runtime_error("cannot load " + path + ": " + error);
}

/// Every part of a package with its uncompressed contents.
inline std::map<std::string, std::string> Parts(const std::string& path) {
    std::map<std::string, std::string> parts;
    std::string bytes = ReadBytes(path), error;
    auto zip = ZipArchive::OpenMemory(bytes, error);
    EXPECT_TRUE(zip) << error;
    if (!zip) return parts;
    for (const auto& name : zip->Names()) {
        std::string text;
        EXPECT_TRUE(zip->Read(name, text, error)) << error;
        parts[name] = text;
    }
    return parts;
}

inline void WritePackage(const std::string& path, const std::map<std::string, std::string>& parts) {
    std::string error;
    auto zip = ZipArchive::OpenFile(path, true, error);
    ASSERT_TRUE(zip) << error;
    for (const auto& [name, text] : parts) ASSERT_TRUE(zip->Write(name, text, error)) << error;
    ASSERT_TRUE(zip->Close(error)) << error;
}

/// A package written by hand in the way Excel writes one: shared formulas, a
/// calculation chain, rich shared strings, an error cell, cells and rows without
/// positions, a sheet with prefixed element names, a comment, an unknown part.
std::map<std::string, std::string> ExcelLikeParts();

} // namespace lumora::test
