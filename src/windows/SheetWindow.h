#pragma once
// The sheet window: the embedded host's workbook as a spreadsheet beside the main
// window. It shows one sheet at a time (tabs below), takes typed and pasted values as
// the user's edits (undoable), saves the workbook, and follows what a running command
// writes. Closing it only hides it; the workbook stays open.

#include "windows/SheetModel.h"

#include <QMainWindow>
#include <QTableView>

#include <functional>

class QTabBar;
class QUndoStack;
class QAction;

namespace lumora {

class Workbook;

/// The table of the sheet window: the clipboard and delete keys go to the window.
class SheetView : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;
    std::function<bool(QKeyEvent*)> keyHook;

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

class SheetWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit SheetWindow(QWidget* parent = nullptr);
    ~SheetWindow() override;

    /// Shows the workbook at sheet (the data-set sheet) and brings the window up.
    void ShowWorkbook(Workbook* book, Worksheet* sheet);
    /// Shows the workbook's worksheet at this 1-based index.
    void ShowSheet(int index);
    /// Forgets the workbook (before the host closes it).
    void Forget();

    SheetModel& Model() { return model_; }
    SheetView* View() const { return view_; }
    QTabBar* Tabs() const { return tabs_; }
    QUndoStack& UndoStack() const { return *undo_; }

    /// Copies the selected rectangle as tab-separated text.
    void Copy();
    /// Pastes the clipboard's text at the current cell.
    void Paste();
    /// Pastes tab-separated text with its top-left cell at (row, col) (1-based); asks
    /// before it overwrites a keyword of the layout. False when nothing was written.
    bool PasteText(const QString& text, int row, int col);
    /// Empties the selected cells.
    void ClearSelection();
    /// Clears the "Result" cell of the species on row (1-based), so Optimize refines it.
    bool FreeSpecies(int row);
    /// Saves the workbook; false after reporting why not.
    bool Save();
    /// A command starts: the tint of the last one goes.
    void CommandStarting() { model_.ForgetCommandCells(); }

    /// "New data set..." (Ctrl+N), offered by the program.
    std::function<void()> newDataSet;
    /// Asks Yes/No (default: a message box); tests answer themselves.
    std::function<bool(const QString&)> confirm;
    /// Shows a failure (default: a message box).
    std::function<void(const QString&)> report;
    /// While it says true (a command runs), the sheet cannot be edited.
    std::function<bool()> commandRunning;
    /// Esc while a command runs: the main window's interrupt request.
    std::function<void()> interrupt;

protected:
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void BuildMenus();
    bool KeyPressed(QKeyEvent* e);
    /// Records and makes an edit of the block at (row, col); false when refused.
    bool Edit(int row, int col, CellBlock block, const QString& what);
    bool Locked();
    void Fail(const QString& message);
    void UpdateTitle();
    int SpeciesRowAtCursor() const;
    /// The rectangle around the selection, in 1-based columns (x) and rows (y).
    QRect SelectedCells() const;
    /// The first keyword cell the block at (row, col) would change ("\"Result\" in D9"),
    /// empty when none.
    QString KeywordOverwritten(const CellBlock& block, int row, int col) const;

    Workbook* book_ = nullptr;
    SheetModel model_;
    SheetView* view_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QUndoStack* undo_ = nullptr;
    QAction* freeAction_ = nullptr;
};

} // namespace lumora
