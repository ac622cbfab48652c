#pragma once
// A workbook held in memory and backed by an .xlsx file. Loading keeps the
// file's bytes; saving patches them: only the cells, comments and formats the
// program changed are rewritten, every other part of the package stays as it
// was, and the file is replaced atomically.

#include "sheet/FileStamp.h"
#include "sheet/Workbook.h"
#include "xlsx/GridSheet.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumora {

/// Steps of a save at which a test can make it fail (as a crash would).
enum class SaveStep { TempWritten, BeforeRename };

class GridWorkbook : public Workbook {
public:
    /// A new workbook without a file yet; the first Save creates path.
    explicit GridWorkbook(std::string path);
    ~GridWorkbook() override;

    /// Loads an .xlsx file; nullptr with a reason when it is no readable workbook.
    static std::unique_ptr<GridWorkbook> Load(const std::string& path, std::string& error);

    std::string Name() const override;
    std::string FullName() const override { return path_; }
    Worksheet* ActiveSheet() override;
    Worksheet* Worksheets(int index) override;
    int WorksheetCount() const override;
    void Activate() override;
    bool Dirty() const override { return dirty_; }
    void SetDirty(bool dirty) override { dirty_ = dirty; }
    /// Writes the changes into the file. Refuses when another program changed the
    /// file since it was loaded, so the user's version is never overwritten.
    bool Save(std::string& error) override;
    bool ChangedOnDisk() override;
    ReloadResult ReloadIfChangedOnDisk(std::string& error) override;

    /// The worksheet named name (ignoring case), nullptr when absent.
    GridSheet* SheetByName(const std::string& name);
    GridSheet* Sheet(int index) { return static_cast<GridSheet*>(Worksheets(index)); }
    /// Appends a worksheet (new workbooks); the first one added becomes active.
    GridSheet* AddSheet(const std::string& name);
    /// Makes the 1-based worksheet index the active sheet.
    void SetActiveSheet(int index);

    /// Called by Activate (the host keeps track of the active workbook).
    void SetActivateHandler(std::function<void(GridWorkbook*)> handler) {
        onActivate_ = std::move(handler);
    }
    /// Test seam: returning false at a step makes the save fail there.
    void SetSaveFault(std::function<bool(SaveStep)> fault) { fault_ = std::move(fault); }

    void MarkDirty() { dirty_ = true; }

private:
    struct Entry {
        std::string name;
        /// Package part of the sheet ("xl/worksheets/sheet1.xml")
        std::string part;
        /// nullptr for a chart sheet
        std::unique_ptr<GridSheet> sheet;
    };
    struct Loaded;
    static std::optional<Loaded> ReadFile(const std::string& path, std::string& error);
    void Adopt(Loaded&& loaded);
    /// A new package holding the workbook's sheets, empty.
    bool WriteSkeleton(const std::string& path, std::string& error) const;
    bool WritePackage(const std::string& tempPath, std::string& error);

    std::string path_;
    /// The file as last loaded or saved; empty for a workbook without a file yet.
    std::string package_;
    std::optional<FileStamp> stamp_;
    std::vector<Entry> entries_;
    /// Sheets that a reload dropped, kept so that pointers to them stay valid.
    std::vector<std::unique_ptr<GridSheet>> retired_;
    int active_ = 0;
    bool dirty_ = false;
    std::function<void(GridWorkbook*)> onActivate_;
    std::function<bool(SaveStep)> fault_;
};

} // namespace lumora
