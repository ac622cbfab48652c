#include "xlsx/EmbeddedHost.h"

#include <filesystem>

namespace lumora {

namespace {

/// One spelling per file, so the same workbook is not opened twice.
std::string CanonicalPath(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return ec ? path : p.string();
}

} // namespace

std::shared_ptr<EmbeddedHost> EmbeddedHost::Instance() {
    static auto host = std::make_shared<EmbeddedHost>();
    return host;
}

Workbook* EmbeddedHost::WorkbookItem(int index) {
    if (index < 1 || index > static_cast<int>(books_.size())) return nullptr;
    return books_[static_cast<size_t>(index - 1)].get();
}

GridWorkbook* EmbeddedHost::Track(std::unique_ptr<GridWorkbook> book) {
    book->SetActivateHandler([this](GridWorkbook* b) { active_ = b; });
    books_.push_back(std::move(book));
    active_ = books_.back().get();
    return active_;
}

Workbook* EmbeddedHost::Open(const std::string& path, std::string& error) {
    std::string wanted = CanonicalPath(path);
    for (auto& b : books_) {
        if (CanonicalPath(b->FullName()) == wanted) {
            active_ = b.get();
            return active_;
        }
    }
    auto book = GridWorkbook::Load(wanted, error);
    if (!book) return nullptr;
    return Track(std::move(book));
}

GridWorkbook* EmbeddedHost::Add(std::unique_ptr<GridWorkbook> book) {
    return Track(std::move(book));
}

void EmbeddedHost::CloseAll() {
    active_ = nullptr;
    books_.clear();
}

void EmbeddedHost::SetDisplayStatusBar(bool on) {
    displayStatusBar_ = on;
    Notify();
}

void EmbeddedHost::SetStatusBar(const std::string& text) {
    statusText_ = text;
    Notify();
}

void EmbeddedHost::ResetStatusBar() {
    statusText_.clear();
    Notify();
}

void EmbeddedHost::SetInteractive(bool on) {
    interactive_ = on;
    Notify();
}

void EmbeddedHost::SetScreenUpdating(bool on) {
    screenUpdating_ = on;
    Notify();
}

std::shared_ptr<SpreadsheetApp> AttachEmbeddedHost(bool) {
    return EmbeddedHost::Instance();
}

} // namespace lumora
