#include "windows/SheetModel.h"

#include "base/NumText.h"
#include "base/RuntimeError.h"
#include "sheet/CellRef.h"
#include "sheet/Worksheet.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>

#include <algorithm>

namespace lumora {

namespace {

// Room below and right of the used cells, and the least the window shows.
constexpr int kRowMargin = 50;
constexpr int kColMargin = 10;
constexpr int kMinRows = 100;
constexpr int kMinCols = 26;
// A running command's writes are shown at this pace (ms).
constexpr int kFlushMs = 40;

// Texts longer than this may not fit their cell.
constexpr size_t kShortText = 10;

const QColor kCommandTint(255, 240, 170);
const QColor kFreeTint(214, 240, 214);
const QColor kFixedTint(226, 226, 232);
const QColor kFormulaInk(30, 60, 150);

QIcon Dot(const QColor& color) {
    QPixmap pm(8, 8);
    pm.fill(color);
    return QIcon(pm);
}

bool IsWholeSheet(int row1, int col1, int row2, int col2) {
    return row1 <= 1 && col1 <= 1 && row2 >= kMaxRows && col2 >= kMaxCols;
}

} // namespace

SheetModel::SheetModel(QObject* parent) : QAbstractTableModel(parent) {
    flush_.setSingleShot(true);
    flush_.setInterval(kFlushMs);
    connect(&flush_, &QTimer::timeout, this, &SheetModel::FlushChanges);
}

SheetModel::~SheetModel() {
    if (Worksheet* s = Sheet()) s->SetCellListener({});
}

Worksheet* SheetModel::Sheet() const {
    return alive_.expired() ? nullptr : sheet_;
}

void SheetModel::SetSheet(Worksheet* sheet) {
    if (Worksheet* old = Sheet(); old && old != sheet) old->SetCellListener({});
    sheet_ = sheet;
    alive_ = sheet ? sheet->Lifetime() : std::weak_ptr<const void>();
    if (sheet)
        sheet->SetCellListener([this](int r1, int c1, int r2, int c2) { Listen(r1, c1, r2, c2); });
    commandCells_.clear();
    Reset();
}

void SheetModel::Reset() {
    beginResetModel();
    std::fill(std::begin(pending_), std::end(pending_), 0);
    pendingAll_ = false;
    Worksheet* s = Sheet();
    const auto [usedRows, usedCols] = s ? s->UsedExtent() : std::pair<int, int>{0, 0};
    rows_ = s ? std::max(kMinRows, usedRows + kRowMargin) : 0;
    cols_ = s ? std::max(kMinCols, usedCols + kColMargin) : 0;
    species_ = s ? FindSpeciesRows(*s) : SpeciesRows{};
    endResetModel();
}

int SheetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int SheetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

void SheetModel::Listen(int row1, int col1, int row2, int col2) {
    if (IsWholeSheet(row1, col1, row2, col2)) {
        // Reloaded from disk: nothing on it is the last command's any more.
        commandCells_.clear();
        pendingAll_ = true;
    } else {
        if (writing_)
            ForgetCommandCells();
        else
            MarkCommandCells(row1, col1, row2, col2);
        if (pending_[0] == 0) {
            pending_[0] = row1, pending_[1] = col1, pending_[2] = row2, pending_[3] = col2;
        } else {
            pending_[0] = std::min(pending_[0], row1), pending_[1] = std::min(pending_[1], col1);
            pending_[2] = std::max(pending_[2], row2), pending_[3] = std::max(pending_[3], col2);
        }
    }
    if (!flush_.isActive()) flush_.start();
}

void SheetModel::MarkCommandCells(int row1, int col1, int row2, int col2) {
    for (int r = row1; r <= row2; ++r) {
        auto& runs = commandCells_[r];
        // Commands write row by row, left to right: a cell usually extends the last run.
        if (!runs.empty() && col1 <= runs.back().second + 1 && col2 >= runs.back().first - 1) {
            runs.back().first = std::min(runs.back().first, col1);
            runs.back().second = std::max(runs.back().second, col2);
        } else {
            runs.emplace_back(col1, col2);
        }
    }
}

bool SheetModel::WrittenByCommand(int row, int col) const {
    auto it = commandCells_.find(row);
    if (it == commandCells_.end()) return false;
    return std::any_of(it->second.begin(), it->second.end(),
                       [col](const auto& run) { return col >= run.first && col <= run.second; });
}

void SheetModel::ForgetCommandCells() {
    if (commandCells_.empty()) return;
    commandCells_.clear();
    if (rows_ > 0 && cols_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1), {Qt::BackgroundRole});
}

void SheetModel::GrowTo(int rows, int cols) {
    if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    }
    if (cols > cols_) {
        beginInsertColumns({}, cols_, cols - 1);
        cols_ = cols;
        endInsertColumns();
    }
}

void SheetModel::FlushChanges() {
    flush_.stop();
    Worksheet* s = Sheet();
    if (pendingAll_ || !s) {
        Reset();
        emit sheetReplaced();
        return;
    }
    if (pending_[0] == 0) return;
    int r1 = pending_[0], c1 = pending_[1], r2 = pending_[2], c2 = pending_[3];
    std::fill(std::begin(pending_), std::end(pending_), 0);
    if (r2 > rows_ || c2 > cols_) {
        // A block cleared far out holds nothing to show: grow to what is used.
        const auto [usedRows, usedCols] = s->UsedExtent();
        GrowTo(std::min(r2, usedRows) + kRowMargin, std::min(c2, usedCols) + kColMargin);
    }
    // The species block may have grown, shrunk or changed a "Result" cell.
    const SpeciesRows species = FindSpeciesRows(*s);
    const int lastSpeciesRow = species.first + kMaxSpeciesRows - 1;
    if (species.count != species_.count) r1 = 1, r2 = std::max(r2, lastSpeciesRow);
    species_ = species;
    if (r1 <= lastSpeciesRow)
        emit headerDataChanged(Qt::Vertical, species.first - 1,
                               std::min(lastSpeciesRow, rows_) - 1);
    r2 = std::min(r2, rows_), c2 = std::min(c2, cols_);
    if (r1 <= r2 && c1 <= c2) emit dataChanged(index(r1 - 1, c1 - 1), index(r2 - 1, c2 - 1));
}

CellBlock SheetModel::Read(int row, int col, int rows, int cols) const {
    CellBlock block(static_cast<size_t>(std::max(rows, 0)));
    Worksheet* s = Sheet();
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            CellValue v;
            try {
                if (s) v = s->Value(row + i, col + j);
            } catch (const RuntimeError&) {
            }
            block[static_cast<size_t>(i)].push_back(std::move(v));
        }
    return block;
}

bool SheetModel::IsFormula(int row, int col) const {
    Worksheet* s = Sheet();
    return s && ValidCell(row, col) && s->HasFormula(row, col);
}

bool SheetModel::Write(int row, int col, const CellBlock& block, std::string& error) {
    Worksheet* s = Sheet();
    if (!s) {
        error = "The sheet is no longer open";
        return false;
    }
    const bool events = s->Events();
    s->SetEvents(true);
    writing_ = true;
    bool ok = true;
    try {
        for (size_t i = 0; i < block.size(); ++i)
            for (size_t j = 0; j < block[i].size(); ++j) {
                const int r = row + static_cast<int>(i), c = col + static_cast<int>(j);
                if (!IsFormula(r, c)) s->SetValue(r, c, block[i][j]);
            }
    } catch (const RuntimeError& e) {
        error = "Cannot write the cell: " + e.Description();
        ok = false;
    }
    writing_ = false;
    s->SetEvents(events);
    FlushChanges();
    return ok;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
    case Qt::BackgroundRole:
    case Qt::ForegroundRole:
    case Qt::TextAlignmentRole:
    case kCommentRole:
    case kNumberRole:
        return CellData(index.row() + 1, index.column() + 1, role);
    default:
        return {};
    }
}

QVariant SheetModel::CellData(int row, int col, int role) const {
    Worksheet* s = Sheet();
    if (!s) return {};
    try {
        switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(CellDisplayText(s->Value(row, col)));
        case Qt::EditRole: {
            // Typing starts from the exact number, so an untouched edit changes nothing.
            const CellValue v = s->Value(row, col);
            const double* d = std::get_if<double>(&v);
            return QString::fromStdString(d ? NumberToText(*d) : CellDisplayText(v));
        }
        case Qt::TextAlignmentRole:
            return std::holds_alternative<double>(s->Value(row, col))
                       ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                       : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ForegroundRole:
            return IsFormula(row, col) ? QVariant(kFormulaInk) : QVariant();
        case kCommentRole:
            return QString::fromStdString(s->Comment(row, col).value_or(""));
        case kNumberRole: {
            const CellValue v = s->Value(row, col);
            const double* d = std::get_if<double>(&v);
            return d ? QVariant(*d) : QVariant();
        }
        case Qt::BackgroundRole:
            if (WrittenByCommand(row, col)) return kCommandTint;
            return SpeciesData(row, col, role);
        case Qt::ToolTipRole: {
            QStringList tips;
            if (auto c = s->Comment(row, col)) tips << QString::fromStdString(*c);
            // A long text is cut at the cell's edge: the tip shows it whole.
            const CellValue v = s->Value(row, col);
            if (const auto* t = std::get_if<std::string>(&v); t && t->size() > kShortText)
                tips << QString::fromStdString(*t);
            if (IsFormula(row, col))
                tips << "A formula: it shows its last result; edit formulas in a spreadsheet "
                        "program";
            if (QVariant t = SpeciesData(row, col, role); t.isValid()) tips << t.toString();
            return tips.isEmpty() ? QVariant() : QVariant(tips.join("\n"));
        }
        default:
            return {};
        }
    } catch (const RuntimeError&) {
        return {};
    }
}

QVariant SheetModel::SpeciesData(int row, int col, int role) const {
    Worksheet* s = Sheet();
    if (!s || !species_.Contains(row) || col > kResultCol + 1) return {};
    const bool fixed = SpeciesFixed(*s, row);
    if (role == Qt::BackgroundRole) return fixed ? kFixedTint : kFreeTint;
    if (role == Qt::ToolTipRole)
        return fixed ? QString("Fixed by the number in Result (\"Free this species\" in the "
                               "context menu clears it)")
                     : QString("Free: Optimize refines its Gibbs energy");
    return {};
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole) return QString::fromStdString(ColumnName(section + 1));
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) return section + 1;
    if (role == Qt::ToolTipRole) return SpeciesData(section + 1, 1, role);
    if (role == Qt::DecorationRole) {
        const QVariant tint = SpeciesData(section + 1, 1, Qt::BackgroundRole);
        if (!tint.isValid()) return {};
        return tint.value<QColor>() == kFixedTint ? Dot(QColor(120, 120, 130))
                                                  : Dot(QColor(40, 150, 40));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags SheetModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (!index.isValid() || (locked && locked())) return f;
    if (!IsFormula(index.row() + 1, index.column() + 1)) f |= Qt::ItemIsEditable;
    return f;
}

bool SheetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
    const int row = index.row() + 1, col = index.column() + 1;
    const QString text = value.toString();
    if (text == CellData(row, col, Qt::EditRole).toString()) return true;
    const CellBlock block{{CellFromText(text.toStdString())}};
    if (onEdit) {
        onEdit(row, col, block);
        return true;
    }
    std::string error;
    return Write(row, col, block, error);
}

} // namespace lumora
