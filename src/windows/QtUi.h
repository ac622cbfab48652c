#pragma once
// The desktop Ui: message boxes titled "Lumora", the main window's Status label,
// buttons and data-file box, and the toolkit's event loop for yields.

#include "base/Ui.h"
#include "windows/MainWindowPort.h"

#include <QMessageBox>

namespace lumora {

class AppWindows;
class MainWindow;

class QtUi : public Ui, public MainWindowPort {
public:
    explicit QtUi(MainWindow* form = nullptr) { setForm(form); }
    /// The main window this Ui shows in; it reaches the other windows through this port.
    void setForm(MainWindow* form);
    /// The result windows the port reaches (null: none).
    void setWindows(AppWindows* windows) { windows_ = windows; }

    void yield() override;
    void status(const std::string& text) override;
    void progress(double fraction) override;
    void message(const std::string& text, Icon icon) override;
    bool ask(const std::string& text) override;

    void setButtons(bool enable, Command keep) override;
    bool buttonEnabled(Command button) const override;
    void setFileBoxEnabled(bool enable) override;
    void setMainEnabled(bool enable) override;
    void focusButton(Command button) override;
    void focusMain() override;
    std::string fileText() const override;
    void setFileText(const std::string& text) override;
    bool fileDialog(const std::string& title, const std::string& filterName,
                    const std::string& filterPattern, std::string& folder, std::string& fileName,
                    bool save) override;
    bool goalWindowVisible() const override;
    void refreshGoalList() override;
    bool absorptionViewVisible() const override;
    void unloadAbsorptionView() override;
    int absorptionViewIndex() const override;
    void showAbsorptionView() override;

    static QMessageBox::Icon ToQt(Icon icon);

private:
    MainWindow* form_;
    AppWindows* windows_ = nullptr;
};

} // namespace lumora
