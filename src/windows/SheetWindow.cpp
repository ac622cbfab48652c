#include "windows/SheetWindow.h"

#include "base/NumText.h"
#include "sheet/CellRef.h"
#include "sheet/Workbook.h"
#include "sheet/Worksheet.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTableView>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

namespace lumora {

namespace {

// Empty cells a long text may run into, at most.
constexpr int kMaxOverflowCells = 12;

/// Cells as a spreadsheet draws them: a number rounded to the digits its column has room
/// for, a text running on into the empty cells to its right, and a small red triangle in
/// the top-right corner of a cell with a comment.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect wide = OverflowRect(option, index);
        if (wide == option.rect) {
            QStyledItemDelegate::paint(p, option, index);
        } else {
            QStyleOptionViewItem cell = option;
            initStyleOption(&cell, index);
            const QString text = cell.text;
            cell.text.clear();
            const QWidget* w = option.widget;
            (w ? w->style() : QApplication::style())
                ->drawControl(QStyle::CE_ItemViewItem, &cell, p, w);
            DrawOverflowText(p, cell, wide, text);
        }
        DrawCommentMark(p, option, index);
    }

private:
    /// The cell's rectangle, widened over the empty cells right of a text too long for it.
    static QRect OverflowRect(const QStyleOptionViewItem& option, const QModelIndex& index) {
        const auto* view = qobject_cast<const QTableView*>(option.widget);
        if (!view || index.data(SheetModel::kNumberRole).isValid()) return option.rect;
        const QString text = index.data(Qt::DisplayRole).toString();
        const int need = option.fontMetrics.horizontalAdvance(text) + 8;
        QRect r = option.rect;
        const QAbstractItemModel* model = index.model();
        for (int c = index.column() + 1, n = 0;
             r.width() < need && c < model->columnCount() && n < kMaxOverflowCells; ++c, ++n) {
            if (!model->index(index.row(), c).data(Qt::DisplayRole).toString().isEmpty()) break;
            r.setRight(r.right() + view->columnWidth(c));
        }
        return r;
    }

    static void DrawOverflowText(QPainter* p, const QStyleOptionViewItem& cell, const QRect& wide,
                                 const QString& text) {
        p->save();
        p->setClipRect(wide);
        const bool selected = cell.state & QStyle::State_Selected;
        p->setPen(cell.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        if (const QVariant ink = cell.index.data(Qt::ForegroundRole); ink.canConvert<QColor>())
            p->setPen(ink.value<QColor>());
        p->setFont(cell.font);
        p->drawText(wide.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        p->restore();
    }

    static void DrawCommentMark(QPainter* p, const QStyleOptionViewItem& option,
                                const QModelIndex& index) {
        if (index.data(SheetModel::kCommentRole).toString().isEmpty()) return;
        const QRect r = option.rect;
        const int k = std::min(6, r.height() / 2);
        const QPoint corner[3] = {QPoint(r.right() - k, r.top()), QPoint(r.right(), r.top()),
                                  QPoint(r.right(), r.top() + k)};
        p->save();
        p->setPen(Qt::NoPen);
        p->setBrush(QColor(200, 30, 30));
        p->drawPolygon(corner, 3);
        p->restore();
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant number = index.data(SheetModel::kNumberRole);
        const int room = option->rect.width() - 8;
        if (!number.isValid() || option->fontMetrics.horizontalAdvance(option->text) <= room)
            return;
        const double x = number.toDouble();
        for (int digits = 14; digits >= 1; --digits) {
            QString text = QString::number(x, 'g', digits);
            text.replace('.', QChar(DecimalSeparator()));
            option->text = text;
            if (option->fontMetrics.horizontalAdvance(text) <= room) return;
        }
        option->text = "###";
    }
};

/// One edit of a rectangle: the values before and after.
class CellsEdit : public QUndoCommand {
public:
    CellsEdit(SheetWindow& window, int row, int col, CellBlock before, CellBlock after,
              const QString& text)
        : QUndoCommand(text), window_(window), row_(row), col_(col), before_(std::move(before)),
          after_(std::move(after)) {}
    void redo() override { Apply(after_); }
    void undo() override { Apply(before_); }
    bool ok = true;

private:
    void Apply(const CellBlock& block) {
        std::string error;
        ok = window_.Model().Write(row_, col_, block, error);
        if (!ok && window_.report) window_.report(QString::fromStdString(error));
    }
    SheetWindow& window_;
    int row_, col_;
    CellBlock before_, after_;
};

/// The block widened to a rectangle: missing cells at the ends of short rows are empty.
void MakeRectangular(CellBlock& block) {
    size_t width = 0;
    for (const auto& row : block) width = std::max(width, row.size());
    for (auto& row : block) row.resize(width);
}

/// Whether row holds a species that the number in its "Result" cell fixes.
bool FixedSpeciesRow(const Worksheet* sheet, int row) {
    return sheet && FindSpeciesRows(*sheet).Contains(row) && SpeciesFixed(*sheet, row);
}

} // namespace

void SheetView::keyPressEvent(QKeyEvent* e) {
    if (keyHook && keyHook(e)) return;
    QTableView::keyPressEvent(e);
}

SheetWindow::SheetWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose, false);
    undo_ = new QUndoStack(this);
    view_ = new SheetView(this);
    view_->setModel(&model_);
    view_->setItemDelegate(new CellDelegate(view_));
    view_->setWordWrap(false);
    view_->horizontalHeader()->setDefaultSectionSize(84);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->verticalHeader()->setDefaultSectionSize(22);
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->keyHook = [this](QKeyEvent* e) { return KeyPressed(e); };
    tabs_ = new QTabBar(this);
    tabs_->setShape(QTabBar::RoundedSouth);
    tabs_->setExpanding(false);
    connect(tabs_, &QTabBar::tabBarClicked, this, [this](int i) { ShowSheet(i + 1); });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_);
    layout->addWidget(tabs_);
    setCentralWidget(central);

    confirm = [this](const QString& question) {
        return QMessageBox::question(this, "Lumora", question + "  ") == QMessageBox::Yes;
    };
    report = [this](const QString& message) {
        QMessageBox::critical(this, "Lumora", message + "  ");
    };
    model_.locked = [this] { return commandRunning && commandRunning(); };
    model_.onEdit = [this](int row, int col, const CellBlock& block) {
        Edit(row, col, block, "Typing in " + QString::fromStdString(CellName(row, col)));
    };
    connect(&model_, &SheetModel::sheetReplaced, undo_, &QUndoStack::clear);
    BuildMenus();
    resize(900, 600);
    UpdateTitle();
}

SheetWindow::~SheetWindow() {
    // The model's listener must go before the sheet can call it.
    model_.SetSheet(nullptr);
}

void SheetWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    QAction* newSet = file->addAction("&New data set...", this, [this] {
        if (newDataSet) newDataSet();
    });
    newSet->setShortcut(QKeySequence::New);
    file->addAction("&Save", QKeySequence::Save, this, [this] { Save(); });
    file->addSeparator();
    file->addAction("&Close", QKeySequence::Close, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu("&Edit");
    QAction* undo = undo_->createUndoAction(this, "&Undo");
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = undo_->createRedoAction(this, "&Redo");
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence::Redo});
    edit->addAction(undo);
    edit->addAction(redo);
    edit->addSeparator();
    edit->addAction("&Copy", QKeySequence::Copy, this, [this] { Copy(); });
    edit->addAction("&Paste", QKeySequence::Paste, this, [this] { Paste(); });
    edit->addAction("&Delete", QKeySequence::Delete, this, [this] { ClearSelection(); });
    edit->addSeparator();
    freeAction_ =
        edit->addAction("&Free this species", this, [this] { FreeSpecies(SpeciesRowAtCursor()); });
}

void SheetWindow::ShowWorkbook(Workbook* book, Worksheet* sheet) {
    book_ = book;
    const QSignalBlocker quiet(tabs_);
    while (tabs_->count() > 0) tabs_->removeTab(0);
    int current = 0;
    for (int i = 1; book && i <= book->WorksheetCount(); ++i) {
        Worksheet* ws = book->Worksheets(i);
        if (!ws) continue;
        tabs_->addTab(QString::fromStdString(ws->Name()));
        if (ws == sheet) current = i - 1;
    }
    tabs_->setCurrentIndex(current);
    if (model_.Sheet() != sheet) {
        undo_->clear();
        model_.SetSheet(sheet);
    }
    UpdateTitle();
    show();
    raise();
}

void SheetWindow::ShowSheet(int index) {
    // Without a live sheet the workbook may be gone too (closed by its host).
    Worksheet* sheet = book_ && model_.Sheet() ? book_->Worksheets(index) : nullptr;
    if (!sheet || sheet == model_.Sheet()) return;
    // Undo steps belong to the sheet they were made on.
    undo_->clear();
    model_.SetSheet(sheet);
    tabs_->setCurrentIndex(index - 1);
    UpdateTitle();
}

void SheetWindow::Forget() {
    undo_->clear();
    model_.SetSheet(nullptr);
    book_ = nullptr;
    while (tabs_->count() > 0) tabs_->removeTab(0);
    UpdateTitle();
}

void SheetWindow::UpdateTitle() {
    Worksheet* sheet = model_.Sheet();
    QString title = "Lumora sheet";
    if (book_ && sheet)
        title = QString::fromStdString(book_->Name() + " - " + sheet->Name()) + " - Lumora";
    setWindowTitle(title);
}

bool SheetWindow::Locked() {
    if (!commandRunning || !commandRunning()) return false;
    statusBar()->showMessage("A command is running: the sheet can be edited once it ends", 4000);
    return true;
}

void SheetWindow::Fail(const QString& message) {
    if (report) report(message);
}

bool SheetWindow::Edit(int row, int col, CellBlock block, const QString& what) {
    if (Locked() || !model_.Sheet() || block.empty()) return false;
    MakeRectangular(block);
    const int rows = static_cast<int>(block.size());
    const int cols = static_cast<int>(block.front().size());
    if (!ValidCell(row + rows - 1, col + cols - 1)) {
        Fail("The block does not fit on the sheet (it would end past " +
             QString::fromStdString(
                 CellName(std::min(row + rows - 1, kMaxRows), std::min(col + cols - 1, kMaxCols))) +
             ")");
        return false;
    }
    CellBlock before = model_.Read(row, col, rows, cols);
    auto* edit = new CellsEdit(*this, row, col, std::move(before), std::move(block), what);
    undo_->push(edit); // runs redo()
    return edit->ok;
}

QRect SheetWindow::SelectedCells() const {
    QRect cells;
    for (const QModelIndex& i : view_->selectionModel()->selectedIndexes())
        cells |= QRect(i.column() + 1, i.row() + 1, 1, 1);
    return cells;
}

void SheetWindow::Copy() {
    const QRect cells = SelectedCells();
    if (cells.isEmpty()) return;
    const CellBlock block = model_.Read(cells.top(), cells.left(), cells.height(), cells.width());
    QApplication::clipboard()->setText(QString::fromStdString(TabTextFromBlock(block)));
}

void SheetWindow::Paste() {
    const QModelIndex at = view_->currentIndex();
    if (!at.isValid()) return;
    PasteText(QApplication::clipboard()->text(), at.row() + 1, at.column() + 1);
}

QString SheetWindow::KeywordOverwritten(const CellBlock& block, int row, int col) const {
    for (size_t i = 0; i < block.size(); ++i)
        for (size_t j = 0; j < block[i].size(); ++j) {
            const int r = row + static_cast<int>(i), c = col + static_cast<int>(j);
            const CellValue old = model_.Read(r, c, 1, 1)[0][0];
            if (IsLayoutKeyword(r, c, old) && old != block[i][j])
                return "\"" + QString::fromStdString(CellDisplayText(old)) + "\" in " +
                       QString::fromStdString(CellName(r, c));
        }
    return {};
}

bool SheetWindow::PasteText(const QString& text, int row, int col) {
    CellBlock block = BlockFromTabText(text.toStdString());
    if (block.empty()) return false;
    MakeRectangular(block);
    // The keywords are what the reader finds the blocks by: overwriting one is asked.
    if (const QString keyword = KeywordOverwritten(block, row, col); !keyword.isEmpty()) {
        const QString question = "The paste overwrites the keyword " + keyword +
                                 ", which the data set needs to be read. Paste anyway?";
        if (confirm && !confirm(question)) return false;
    }
    const QString what = "Paste at " + QString::fromStdString(CellName(row, col));
    const int rows = static_cast<int>(block.size());
    const int cols = static_cast<int>(block.front().size());
    if (!Edit(row, col, std::move(block), what)) return false;
    view_->selectionModel()->select(
        QItemSelection(model_.index(row - 1, col - 1),
                       model_.index(std::min(row + rows - 1, model_.rowCount()) - 1,
                                    std::min(col + cols - 1, model_.columnCount()) - 1)),
        QItemSelectionModel::ClearAndSelect);
    return true;
}

void SheetWindow::ClearSelection() {
    const QRect cells = SelectedCells();
    if (cells.isEmpty()) return;
    CellBlock empty(static_cast<size_t>(cells.height()),
                    std::vector<CellValue>(static_cast<size_t>(cells.width())));
    Edit(cells.top(), cells.left(), std::move(empty), "Delete");
}

int SheetWindow::SpeciesRowAtCursor() const {
    const QModelIndex at = view_->currentIndex();
    return at.isValid() ? at.row() + 1 : 0;
}

bool SheetWindow::FreeSpecies(int row) {
    if (!FixedSpeciesRow(model_.Sheet(), row)) return false;
    return Edit(row, kResultCol, {{CellValue{}}}, "Free the species");
}

bool SheetWindow::Save() {
    Worksheet* sheet = model_.Sheet();
    Workbook* book = sheet ? sheet->Parent() : nullptr;
    if (!book) return false;
    std::string error;
    if (!book->Save(error)) {
        Fail(QString::fromStdString(error));
        return false;
    }
    statusBar()->showMessage(QString::fromStdString("Saved " + book->FullName()), 4000);
    return true;
}

bool SheetWindow::KeyPressed(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && commandRunning && commandRunning()) {
        if (interrupt) interrupt();
    } else if (e->matches(QKeySequence::Copy)) {
        Copy();
    } else if (e->matches(QKeySequence::Paste)) {
        Paste();
    } else if (e->matches(QKeySequence::Delete) || e->key() == Qt::Key_Backspace) {
        ClearSelection();
    } else {
        return false;
    }
    return true;
}

void SheetWindow::contextMenuEvent(QContextMenuEvent* e) {
    freeAction_->setEnabled(FixedSpeciesRow(model_.Sheet(), SpeciesRowAtCursor()));
    QMenu menu(this);
    menu.addAction("Copy", this, [this] { Copy(); });
    menu.addAction("Paste", this, [this] { Paste(); });
    menu.addAction("Delete", this, [this] { ClearSelection(); });
    menu.addSeparator();
    menu.addAction(freeAction_);
    menu.exec(e->globalPos());
}

} // namespace lumora
