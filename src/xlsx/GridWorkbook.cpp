#include "xlsx/GridWorkbook.h"

#include "base/AtomicTextFile.h"
#include "base/NumText.h"
#include "xlsx/XlsxPatch.h"
#include "xlsx/XlsxRead.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace lumora {

namespace {

/// Files larger than this are refused before they are read.
constexpr std::streamoff kMaxFileSize = 1024LL * 1024 * 1024;

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxFileSize) {
        error = "Cannot read " + path + ": file too large";
        return false;
    }
    bytes.assign(static_cast<size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) {
        error = "Cannot read " + path;
        return false;
    }
    return true;
}

} // namespace

struct GridWorkbook::Loaded {
    std::string bytes;
    FileStamp stamp;
    XlsxBook book;
};

GridWorkbook::GridWorkbook(std::string path) : path_(std::move(path)), dirty_(true) {}

GridWorkbook::~GridWorkbook() {
    // Sheets may outlive nothing here, but their handlers must not reach a dead parent.
    for (auto& e : entries_)
        if (e.sheet) e.sheet->Detach();
    for (auto& s : retired_) s->Detach();
}

std::optional<GridWorkbook::Loaded> GridWorkbook::ReadFile(const std::string& path,
                                                           std::string& error) {
    Loaded loaded;
    // The stamp is taken before reading: a change during the read shows as a change.
    auto stamp = FileStamp::Of(path);
    if (!stamp) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    loaded.stamp = *stamp;
    if (!ReadWholeFile(path, loaded.bytes, error)) return std::nullopt;
    std::string why;
    if (!ReadXlsx(loaded.bytes, loaded.book, why)) {
        error = path + ": " + why;
        return std::nullopt;
    }
    return loaded;
}

std::unique_ptr<GridWorkbook> GridWorkbook::Load(const std::string& path, std::string& error) {
    auto loaded = ReadFile(path, error);
    if (!loaded) return nullptr;
    auto wb = std::make_unique<GridWorkbook>(path);
    wb->Adopt(std::move(*loaded));
    return wb;
}

void GridWorkbook::Adopt(Loaded&& loaded) {
    std::vector<Entry> fresh;
    for (auto& s : loaded.book.sheets) {
        Entry e;
        e.name = s.name;
        e.part = s.part;
        if (s.worksheet) {
            e.sheet = std::make_unique<GridSheet>(this, s.name);
            for (auto& c : s.cells)
                e.sheet->LoadValue(c.row, c.col, std::move(c.value), c.formula, c.styled);
            for (auto& c : s.comments) e.sheet->LoadComment(c.row, c.col, std::move(c.text));
        }
        fresh.push_back(std::move(e));
    }
    // The program keeps its sheet objects: each takes the contents of the sheet of the
    // same name, else (a sheet renamed in another program) of the same position.
    auto takeOver = [](Entry& old, Entry& now) {
        old.sheet->TakeCells(*now.sheet);
        old.sheet->Rename(now.name);
        now.sheet = std::move(old.sheet);
    };
    std::vector<bool> matched(fresh.size(), false);
    for (auto& old : entries_) {
        for (size_t i = 0; old.sheet && i < fresh.size(); ++i) {
            if (!matched[i] && fresh[i].sheet && LCase(fresh[i].name) == LCase(old.name)) {
                takeOver(old, fresh[i]);
                matched[i] = true;
            }
        }
    }
    for (size_t i = 0; i < entries_.size() && i < fresh.size(); ++i) {
        if (entries_[i].sheet && !matched[i] && fresh[i].sheet) {
            takeOver(entries_[i], fresh[i]);
            matched[i] = true;
        }
    }
    for (auto& old : entries_) {
        if (!old.sheet) continue;
        GridSheet empty(nullptr, "");
        old.sheet->TakeCells(empty);
        retired_.push_back(std::move(old.sheet));
    }
    entries_ = std::move(fresh);
    active_ = loaded.book.activeTab;
    package_ = std::move(loaded.bytes);
    stamp_ = loaded.stamp;
    dirty_ = false;
}

std::string GridWorkbook::Name() const {
    auto slash = path_.rfind('/');
    return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

Worksheet* GridWorkbook::ActiveSheet() {
    if (active_ < 0 || active_ >= static_cast<int>(entries_.size())) return nullptr;
    return entries_[static_cast<size_t>(active_)].sheet.get();
}

Worksheet* GridWorkbook::Worksheets(int index) {
    int n = 0;
    for (auto& e : entries_)
        if (e.sheet && ++n == index) return e.sheet.get();
    return nullptr;
}

int GridWorkbook::WorksheetCount() const {
    int n = 0;
    for (const auto& e : entries_) n += e.sheet ? 1 : 0;
    return n;
}

void GridWorkbook::Activate() {
    if (onActivate_) onActivate_(this);
}

GridSheet* GridWorkbook::SheetByName(const std::string& name) {
    for (auto& e : entries_)
        if (e.sheet && LCase(e.name) == LCase(name)) return e.sheet.get();
    return nullptr;
}

GridSheet* GridWorkbook::AddSheet(const std::string& name) {
    Entry e;
    e.name = name;
    int n = 1;
    for (bool taken = true; taken; ++n) {
        e.part = "xl/worksheets/sheet" + std::to_string(n) + ".xml";
        taken = false;
        for (const auto& other : entries_) taken = taken || other.part == e.part;
    }
    e.sheet = std::make_unique<GridSheet>(this, name);
    entries_.push_back(std::move(e));
    dirty_ = true;
    return entries_.back().sheet.get();
}

void GridWorkbook::SetActiveSheet(int index) {
    int n = 0;
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].sheet && ++n == index) active_ = static_cast<int>(i);
}

bool GridWorkbook::ChangedOnDisk() {
    if (!stamp_) return false;
    auto now = FileStamp::Of(path_);
    // A file that is gone is not a new version: the workbook stays as it is in memory.
    return now && !(*now == *stamp_);
}

ReloadResult GridWorkbook::ReloadIfChangedOnDisk(std::string& error) {
    if (!ChangedOnDisk()) return ReloadResult::Unchanged;
    auto loaded = ReadFile(path_, error);
    if (!loaded) return ReloadResult::Failed;
    Adopt(std::move(*loaded));
    return ReloadResult::Reloaded;
}

namespace {

bool WritesCell(const CellEdit& edit) {
    return edit.value || edit.dropStyle || edit.align != 0;
}

/// The cell writes of one row of a sheet, in column order.
std::vector<CellWrite> RowWrites(const GridSheet& sheet, int row) {
    std::vector<CellWrite> writes;
    for (const auto& [col, edit] : sheet.RowEdits(row)) {
        if (!WritesCell(edit)) continue;
        CellWrite w;
        w.row = row;
        w.col = col;
        w.writeValue = edit.value;
        if (edit.value) w.newValue = sheet.Value(row, col);
        w.dropStyle = edit.dropStyle;
        w.align = edit.align;
        writes.push_back(std::move(w));
    }
    return writes;
}

} // namespace

bool GridWorkbook::WritePackage(const std::string& tempPath, std::string& error) {
    std::vector<SheetPatch> patches;
    for (auto& e : entries_) {
        if (!e.sheet || !e.sheet->HasEdits()) continue;
        SheetPatch p;
        p.part = e.part;
        const GridSheet& sheet = *e.sheet;
        for (int row : sheet.EditedRows()) {
            bool cells = false;
            for (const auto& [col, edit] : sheet.RowEdits(row)) {
                cells = cells || WritesCell(edit);
                if (edit.comment) p.comments.push_back({row, col, sheet.Comment(row, col)});
            }
            if (cells) p.rows.push_back(row);
        }
        p.cells = [&sheet](int row) { return RowWrites(sheet, row); };
        patches.push_back(std::move(p));
    }
    return PatchXlsx(tempPath, patches, error);
}

bool GridWorkbook::Save(std::string& error) {
    const std::string prefix = "Cannot save " + Name() + ": ";
    auto fail = [&](const std::string& why) {
        error = prefix + why;
        return false;
    };
    const char* changed = "the file was changed by another program since it was read; "
                          "read it again before writing into it";
    if (!dirty_ && !package_.empty()) return true;
    if (entries_.empty()) return fail("a workbook needs at least one sheet");
    if (ChangedOnDisk()) return fail(changed);
    FileError failed;
    std::string why, bytes;
    auto out = FileReplacement::Begin(path_, failed);
    if (!out || !out->Write(package_, failed)) return fail(failed.Text());
    if (package_.empty() && !WriteSkeleton(out->TempPath(), why)) return fail(why);
    if (fault_ && !fault_(SaveStep::TempWritten)) return fail("interrupted");
    if (!WritePackage(out->TempPath(), why) || !ReadWholeFile(out->TempPath(), bytes, why))
        return fail(why);
    if (!out->Finish(failed)) return fail(failed.Text());
    // The stamp of the new version, taken before it is in place: a rename keeps it, and a
    // change by someone else right after the rename must still count.
    auto stamp = FileStamp::Of(out->TempPath());
    if (fault_ && !fault_(SaveStep::BeforeRename)) return fail("interrupted");
    // Another program may have saved while this version was being written.
    if (ChangedOnDisk()) return fail(changed);
    if (!out->Replace(failed)) return fail(failed.Text());

    package_ = std::move(bytes);
    stamp_ = stamp;
    for (auto& e : entries_)
        if (e.sheet) e.sheet->ForgetEdits();
    dirty_ = false;
    return true;
}

bool GridWorkbook::WriteSkeleton(const std::string& path, std::string& error) const {
    std::vector<SkeletonSheet> sheets;
    for (const auto& e : entries_) sheets.push_back({e.name, e.part});
    const int activeTab = active_ < static_cast<int>(entries_.size()) ? active_ : 0;
    return WriteXlsxSkeleton(path, sheets, activeTab, error);
}

} // namespace lumora
