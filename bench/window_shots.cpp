// Screenshots of every result window for the README: the bundled 25 C example is read
// and optimized, then each window is grabbed at its first size and at 1200 x 800 and the
// shots are tiled into two PNG files; and the new-data-set template in the sheet window.
// A tool, not a test: run it under xvfb-run (or offscreen) with the output folder as its
// argument.

#include "dataset/DataSetTemplate.h"
#include "dataset/OptimizeCommand.h"
#include "dataset/ReadDataSet.h"
#include "engine/EngineFactory.h"
#include "fit/CallGoal.h"
#include "model/State.h"
#include "windows/AbsorptionView.h"
#include "windows/ConcentrationView.h"
#include "windows/FactorWindow.h"
#include "windows/FittingModeWindow.h"
#include "windows/GoalScanWindow.h"
#include "windows/SheetWindow.h"
#include "windows/WindowPlaces.h"
#include "xlsx/EmbeddedHost.h"
#include "xlsx/XlsxWriter.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

using namespace lumora;

struct Shots {
    std::vector<QPixmap> small, large;

    /// Grabs a shown window at its size, then at 1200 x 800.
    void Take(QWidget& w) {
        QApplication::processEvents();
        small.push_back(w.grab());
        w.resize(1200, 800);
        QApplication::processEvents();
        large.push_back(w.grab());
    }
    /// Runs `open` (which shows w modally) and grabs w once it is up.
    void TakeModal(QWidget& w, const std::function<void()>& open,
                   const std::function<void()>& before = {}) {
        SetWindowPlacesFolder(""); // each window opens at its first size
        QTimer::singleShot(200, [&, before] {
            if (before) before();
            Take(w);
            w.close();
        });
        open();
    }
};

/// The shots in rows of `perRow`, each scaled by `scale`, on a light grey ground.
QImage Tile(const std::vector<QPixmap>& shots, int perRow, double scale) {
    int rowW = 0, total = 0, rowH = 0, width = 0;
    std::vector<QPoint> at;
    for (size_t i = 0; i < shots.size(); ++i) {
        if (i % perRow == 0) total += rowH + (i ? 8 : 0), rowW = 0, rowH = 0;
        const QSize s = shots[i].size() * scale;
        at.push_back({rowW, total});
        rowW += s.width() + 8;
        rowH = std::max(rowH, s.height());
        width = std::max(width, rowW - 8);
    }
    QImage image(width, total + rowH, QImage::Format_RGB32);
    image.fill(QColor(200, 200, 200));
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (size_t i = 0; i < shots.size(); ++i)
        p.drawPixmap(QRect(at[i], shots[i].size() * scale), shots[i]);
    return image;
}

/// The template as "New data set..." writes it, in the sheet window at 640 x 440.
QPixmap TemplateShot(EmbeddedHost& host, const std::filesystem::path& work) {
    const std::string path = (work / "template.xlsx").string();
    std::string error;
    Workbook* book = nullptr;
    if (WriteNewXlsx(path, {{"Data", DataSetTemplateRows(), {}}}, error))
        book = host.Open(path, error);
    if (!book) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return {};
    }
    SheetWindow window;
    window.ShowWorkbook(book, book->ActiveSheet());
    window.resize(640, 440);
    QApplication::processEvents();
    return window.grab();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_shots OUTPUT_FOLDER\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / "lumora-shots";
    fs::create_directories(work);
    fs::copy_file(LUMORA_EXAMPLES_DIR "/co-chloride-25C.xlsx", work / "co.xlsx",
                  fs::copy_options::overwrite_existing);

    State st;
    auto host = std::make_shared<EmbeddedHost>();
    st.solver = CreateSolver();
    st.props = CreateProps();
    st.sysReader = CreateSysReader();
    st.attachHost = [host](bool) { return host; };
    st.WorkDir = work.string() + "/";
    ReadRequest request;
    request.fileName = "co.xlsx";
    ReadDataSet(st, request);
    if (st.ErrCode == 0) OptimizeCommand(st, request);
    if (st.ErrCode != 0) {
        std::fprintf(stderr, "%s\n", st.ErrMsg.c_str());
        return 1;
    }
    MainWindowPort& port = NoMainWindow();
    Shots shots;

    GoalScanWindow goal(st, port, nullptr);
    goal.FillParameterList();
    goal.ScanGoal(-1);
    shots.Take(goal);

    AbsorptionView abs(st, port, nullptr);
    abs.ShowAbsorptionView();
    abs.list->setCurrentIndex(9);
    shots.Take(abs);

    ConcentrationView spec(st, port, nullptr);
    shots.TakeModal(spec, [&] { spec.ShowSpeciesView(1); });
    ConcentrationView eps(st, port, nullptr);
    shots.TakeModal(eps, [&] { eps.ShowSpeciesView(2); });

    FactorWindow factors(st, nullptr);
    shots.TakeModal(factors, [&] { FactorAnalysis(st, port, 0, &factors); });

    FittingModeWindow mode(st, port, nullptr);
    shots.TakeModal(
        mode, [&] { OpenFittingMode(st, mode); },
        [&] {
            mode.modeButtons[1]->click();
            mode.BuildBands();
        });

    const QString out = QString::fromLocal8Bit(argv[1]);
    const bool ok = Tile(shots.small, 3, 1.0).save(out + "/windows.png") &&
                    Tile(shots.large, 2, 0.5).save(out + "/windows-1200x800.png") &&
                    TemplateShot(*host, work).save(out + "/sheet-new.png");
    for (size_t i = 0; i < shots.large.size(); ++i)
        shots.large[i].save(QString("%1/shot-%2.png").arg(work.c_str()).arg(i)); // to look at
    return ok ? 0 : 1;
}
