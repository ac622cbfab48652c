#pragma once
// The table model of the sheet window: serves the cells of one worksheet on demand
// (no copy of the grid), writes edits through the host as the user's, follows every
// change of the sheet (a running command's writes, a reload) and remembers which
// cells the last command wrote.

#include "dataset/DataSetCells.h"
#include "windows/SheetText.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

class Worksheet;

class SheetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    /// The cell's comment text (empty: none), for the corner mark.
    static constexpr int kCommentRole = Qt::UserRole + 1;
    /// The cell's number (none for other cells), for showing it in a narrow column.
    static constexpr int kNumberRole = Qt::UserRole + 2;

    explicit SheetModel(QObject* parent = nullptr);
    ~SheetModel() override;

    /// The sheet shown (nullptr: none); the model listens to its changes.
    void SetSheet(Worksheet* sheet);
    Worksheet* Sheet() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Typed text: handed to onEdit (the window's undo) or written at once.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    /// An edit of the user: the block goes to (row, col) (1-based).
    std::function<void(int row, int col, const CellBlock& block)> onEdit;
    /// While it says true (a command runs) nothing can be edited.
    std::function<bool()> locked;

    /// The cells of rows row..row+rows-1, columns col..col+cols-1 as they are.
    CellBlock Read(int row, int col, int rows, int cols) const;
    /// Writes a block as the user's edit: with the sheet's events on, so the change
    /// watcher marks the data set changed. Cells holding formulas are left alone. False
    /// with the host's reason when a write fails (the cells before it are written).
    bool Write(int row, int col, const CellBlock& block, std::string& error);
    bool IsFormula(int row, int col) const;

    /// Whether the last command wrote the cell (tinted until the next edit).
    bool WrittenByCommand(int row, int col) const;
    /// A new command starts: the tint of the previous one goes.
    void ForgetCommandCells();
    /// Shows the changes collected so far (a timer does it while events run).
    void FlushChanges();

signals:
    /// The sheet's cells were replaced as a whole (reloaded from its file).
    void sheetReplaced();

private:
    void Listen(int row1, int col1, int row2, int col2);
    void MarkCommandCells(int row1, int col1, int row2, int col2);
    void GrowTo(int rows, int cols);
    void Reset();
    QVariant CellData(int row, int col, int role) const;
    QVariant SpeciesData(int row, int col, int role) const;

    Worksheet* sheet_ = nullptr;
    std::weak_ptr<const void> alive_;
    int rows_ = 0, cols_ = 0;
    /// True while the model writes (those changes are the user's).
    bool writing_ = false;
    /// Changed cells not shown yet (row1 = 0: none).
    int pending_[4] = {0, 0, 0, 0};
    bool pendingAll_ = false;
    QTimer flush_;
    /// The cells of the last command: per row, runs of columns [first, last].
    std::map<int, std::vector<std::pair<int, int>>> commandCells_;
    SpeciesRows species_;
};

} // namespace lumora
