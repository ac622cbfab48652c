#include "windows/MainWindow.h"

#include "base/NumText.h"
#include "dataset/FitReport.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "dataset/ReaderMessage.h"
#include "engine/EngineFactory.h"
#include "export/ExportSolutions.h"
#include "windows/AbsorptionView.h"
#include "windows/AppWindows.h"
#include "windows/ConcentrationView.h"
#include "windows/FactorWindow.h"
#include "windows/FittingModeWindow.h"
#include "windows/GoalScanWindow.h"
#include "windows/ResultPanel.h"
#include "windows/Settings.h"
#include "windows/ViewGeometry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>

#include <cmath>
#include <filesystem>

namespace lumora {

namespace {
constexpr int kInnerW = 5415; // twips
constexpr int kInnerH = 2730;
constexpr int kMinVersion = 66;
const char* const kCaptions[6] = {"Open / Refresh", "Goal function",     "Optimize",
                                  "Speciation",     "Extinction coeff.", "Absorption"};
} // namespace

MainWindow::MainWindow(State& st, std::string settingsFolder, QWidget* parent)
    : QWidget(parent), st_(st), settingsFolder_(std::move(settingsFolder)) {
    setWindowTitle("Lumora: Processing of Absorption Spectra");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(DialogFont());

    // The controls sit on one client widget, so the window's controls can be switched off
    // together without switching off the windows it owns (disabling a QWidget disables
    // its child windows too).
    client_ = new QWidget(this);
    fileLabel_ = new QLabel("Data file", client_);
    fileEdit_ = new QLineEdit(client_);
    for (int i = 0; i < 6; ++i) {
        buttons_[static_cast<size_t>(i)] = new QPushButton(kCaptions[i], client_);
        connect(buttons_[static_cast<size_t>(i)], &QPushButton::clicked, this,
                [this, i] { RunCommand(static_cast<Command>(i + 1)); });
        buttons_[static_cast<size_t>(i)]->setEnabled(i == 0);
    }
    status_ = new QLabel(client_);
    versionLabel_ = new QLabel(client_);
    copyrightLabel_ = new QLabel(client_);
    progressBox_ = new QWidget(client_);
    progressBox_->setAutoFillBackground(true);
    QPalette pal = progressBox_->palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 0));
    progressBox_->setPalette(pal);
    progressBox_->hide();
    results_ = new ResultPanel(client_);
    results_->hide();
    auto* newSet = new QShortcut(QKeySequence::New, this);
    connect(newSet, &QShortcut::activated, this, [this] {
        if (newDataSet && !CommandRunning()) newDataSet();
    });

    // The window sees every key before the focused control does.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
    Layout();
}

MainWindow::~MainWindow() {
    Shutdown();
}

void MainWindow::Layout() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpiX = screen ? screen->logicalDotsPerInchX() : 96.0;
    const double dpiY = screen ? screen->logicalDotsPerInchY() : 96.0;
    st_.TwipsX = static_cast<float>(1440.0 / dpiX);
    st_.TwipsY = static_cast<float>(1440.0 / dpiY);
    auto px = [this](int l, int t, int w, int h) { return TwipsRect(st_, l, t, w, h); };
    setFixedSize(px(0, 0, kInnerW, kInnerH).size());
    FitCaption(*this); // wider when the caption needs it, the controls in the middle
    client_->setGeometry((width() - px(0, 0, kInnerW, 0).width()) / 2, 0,
                         px(0, 0, kInnerW, 0).width(), height());
    fileLabel_->setGeometry(px(600, 240, 730, 260));
    fileEdit_->setGeometry(px(1320, 210, 3135, 285));
    const int lefts[3] = {240, 1920, 3600};
    for (int i = 0; i < 6; ++i)
        buttons_[static_cast<size_t>(i)]->setGeometry(
            px(lefts[i % 3], i < 3 ? 720 : 1800, 1575, 375));
    status_->setGeometry(px(240, 1320, 4935, 270));
    versionLabel_->setGeometry(px(240, 2400, 2415, 255));
    copyrightLabel_->setGeometry(px(3000, 2400, 2175, 255));
    PlaceResults();
}

void MainWindow::PlaceResults() {
    // The results take the room below the credit lines; the window grows by it.
    const QRect line = TwipsRect(st_, 240, kInnerH, 4935, 0);
    const int extra = results_->HasResults() ? results_->WantedHeight() : 0;
    setFixedSize(width(), line.top() + extra);
    client_->resize(client_->width(), height());
    results_->setGeometry(line.left(), line.top(), line.width(), extra);
    results_->setVisible(extra > 0);
}

bool MainWindow::Load() {
    st_.GaussArg = true;
    if (createComponents) {
        createComponents(st_);
    } else {
        st_.solver = CreateSolver();
        if (st_.solver) st_.props = CreateProps();
        if (st_.props) st_.sysReader = CreateSysReader();
    }
    if (!st_.solver || !st_.props || !st_.sysReader) {
        st_.ui->message("This program requires Vexil to be installed  ", Icon::None);
        close();
        return false;
    }
    st_.WorkDir = ReadWorkDir(settingsFolder_);
    settingsRead_ = true;
    versionLabel_->setText("Lumora " LUMORA_VERSION);
    copyrightLabel_->setText("\u00a9 2026 the Lumora team");
    show();
    Button(Command::Open)->setFocus();
    st_.ScanSpan = 10;
    Layout();
    const QRect outer = frameGeometry();
    st_.FrameW = static_cast<float>(static_cast<int>(std::lround(outer.width() - width())) / 2);
    st_.CaptionH = static_cast<float>(outer.height() - height()) - st_.FrameW;
    if (st_.solver->Version() < kMinVersion || st_.props->Version() < kMinVersion ||
        st_.sysReader->Version() < kMinVersion) {
        st_.ui->message("Please upgrade your Vexil package  ", Icon::None);
        close();
        return false;
    }
    return true;
}

void MainWindow::SetWorkbookPath(const std::string& path) {
    if (path.empty()) return;
    std::filesystem::path p = std::filesystem::absolute(path);
    std::string folder = p.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    st_.WorkDir = folder;
    fileEdit_->setText(QString::fromStdString(p.filename().string()));
}

void MainWindow::SetControlsEnabled(bool enable) {
    client_->setEnabled(enable);
}

bool MainWindow::ControlsEnabled() const {
    return client_->isEnabled();
}

bool MainWindow::CommandRunning() const {
    return !Button(Command::Open)->isEnabled();
}

MainWindowPort& MainWindow::Port() const {
    return port_ ? *port_ : NoMainWindow();
}

void MainWindow::RunCommand(Command command) {
    if (beforeCommand) beforeCommand();
    fileEdit_->setEnabled(false);
    switch (command) {
    case Command::Open:
        OpenDataSet();
        break;
    case Command::GoalFunction:
        SetButtons(false, Command::GoalFunction);
        if (windows_) {
            windows_->Goal().ScanGoal(-1);
            if (afterCommand) afterCommand();
            return; // the scan window restores the buttons, the box and ErrCode
        }
        break;
    case Command::Optimize:
        RunOptimize();
        break;
    case Command::Speciation:
    case Command::Extinction:
        if (windows_) windows_->Spec().ShowSpeciesView(command == Command::Speciation ? 1 : 2);
        break;
    case Command::Absorption:
        if (windows_) windows_->Abs().ShowAbsorptionView();
        break;
    case Command::None:
        break;
    }
    if (command != Command::Open || st_.ErrCode >= 0) SetButtons(true, command);
    st_.ErrCode = 0;
    fileEdit_->setEnabled(true);
    if (command != Command::Absorption) Button(command)->setFocus();
    if (afterCommand) afterCommand();
}

void MainWindow::OpenDataSet() {
    MainWindowPort& port = Port();
    const ReadRequest request = port.readRequest();
    SetButtons(false, Command::None);
    const std::string shown = ReadDataSet(st_, request);
    if (shown != request.fileName) port.setFileText(shown);
    port.afterRead(st_);
    port.focusMain();
    st_.ErrMsg = ReaderMessage(st_.ErrCode, st_.ErrMsg);
    if (st_.ErrCode < 0) {
        SetButtons(false, Command::Open);
        Button(Command::Open)->setEnabled(true);
    }
    ShowReport(st_.ErrCode == 0, false);
    if (afterRead) afterRead();
    if (st_.ErrCode != 0) {
        st_.ui->message(st_.ErrMsg + "  ", Icon::Critical);
        status_->clear();
    }
}

void MainWindow::ShowReport(bool readOk, bool optimized) {
    results_->Show(CollectFitReport(st_, readOk, optimized));
    Layout();
}

void MainWindow::RunOptimize() {
    MainWindowPort& port = Port();
    st_.solver->SetControl(27, 0);
    SetButtons(false, Command::Optimize);
    OptimizeViews views;
    views.beforeReread = [&port] {
        if (port.absorptionViewVisible()) port.unloadAbsorptionView();
    };
    views.afterReread = [&port] { port.refreshGoalList(); };
    views.afterIteration = [&port] {
        if (port.absorptionViewVisible() && port.absorptionViewIndex() > 0)
            port.showAbsorptionView();
    };
    OptimizeCommand(st_, port.readRequest(), views);
    if (st_.ErrCode == 0) ShowReport(true, true);
    SetButtons(true, Command::None);
    if (st_.ErrCode > 0) st_.ui->message("Optimization: " + st_.ErrMsg + "  ", Icon::Critical);
}

void MainWindow::SetButtons(bool enable, Command keep) {
    const int k = static_cast<int>(keep);
    if (enable && k != 0) Button(keep)->setEnabled(enable);
    for (int i = 1; i <= 6; ++i)
        if (i != k) buttons_[static_cast<size_t>(i - 1)]->setEnabled(enable);
    if (!enable && k != 0) Button(keep)->setEnabled(false);
    if (enable && st_.FitMode == 1) Button(Command::GoalFunction)->setEnabled(false);
    Button(Command::GoalFunction)->setText(st_.FitMode != 0 ? "Gaussian mode!" : "Goal function");
}

void MainWindow::KeyPress(int key) {
    if (key == Qt::Key_Escape && CommandRunning()) st_.ErrCode = kInterrupt;
}

void MainWindow::KeyUp(int key, Qt::KeyboardModifiers shift) {
    if (shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return;
    if (CommandRunning() || !windows_) return; // one command at a time
    MainWindowPort& port = Port();
    std::function<void()> run;
    switch (key) {
    case Qt::Key_F1:
        run = [&] { FactorAnalysis(st_, port, 0, &windows_->Ind()); };
        break;
    case Qt::Key_F2:
        run = [&] { ExportCommand(); };
        break;
    case Qt::Key_F12:
        run = [&] { OpenFittingMode(st_, windows_->Mode()); };
        break;
    default:
        return;
    }
    st_.ErrCode = 0; // a stray Esc before must not end this command silently
    if (beforeCommand) beforeCommand();
    run();
    if (afterCommand) afterCommand();
}

void MainWindow::ExportCommand() {
    MainWindowPort& port = Port();
    if (!port.buttonEnabled(Command::Optimize)) return;
    // A command like the buttons': while it runs, Esc stops it.
    SetButtons(false, Command::None);
    fileEdit_->setEnabled(false);
    if (port.reread(st_) != RereadResult::Failed) ExportSolutions(st_);
    SetButtons(true, Command::None);
    fileEdit_->setEnabled(true);
}

void MainWindow::SetProgress(double fraction) {
    if (fraction < 0) {
        progressBox_->hide();
        return;
    }
    const QRect r = status_->geometry();
    const int w = static_cast<int>((r.width() - 1) * std::min(1.0, fraction));
    progressBox_->setGeometry(r.left(), r.top(), w, r.height() - 1);
    progressBox_->show();
    progressBox_->raise();
}

bool MainWindow::eventFilter(QObject* obj, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Escape) {
            KeyPress(Qt::Key_Escape);
            return true;
        }
    } else if (e->type() == QEvent::KeyRelease) {
        auto* k = static_cast<QKeyEvent*>(e);
        const int key = k->key();
        const bool commandKey = key == Qt::Key_F1 || key == Qt::Key_F2 || key == Qt::Key_F12;
        if (commandKey && !k->isAutoRepeat()) {
            KeyUp(key, k->modifiers());
            return true;
        }
    }
    return QWidget::eventFilter(obj, e);
}

void MainWindow::changeEvent(QEvent* e) {
    if (e->type() == QEvent::ActivationChange && isActiveWindow() && goalWindow &&
        goalWindow->isVisible())
        goalWindow->activateWindow();
    QWidget::changeEvent(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (CommandRunning()) {
        KeyPress(Qt::Key_Escape); // interrupt instead; the user closes again once it stopped
        e->ignore();
        return;
    }
    Shutdown();
    e->accept();
}

void MainWindow::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (windows_) windows_->Unload();
    st_.props.reset();
    st_.sysReader.reset();
    if (st_.solver) {
        st_.solver->Shutdown();
        st_.solver.reset();
    }
    if (st_.xlsWatch) st_.xlsWatch->SetSheet(nullptr);
    st_.xlSheet = nullptr;
    st_.xlBook = nullptr;
    st_.xlApp.reset(); // the host and its workbooks stay open
    // A start-up that failed before the settings were read must not erase them.
    if (settingsRead_) WriteWorkDir(settingsFolder_, st_.WorkDir);
}

} // namespace lumora
