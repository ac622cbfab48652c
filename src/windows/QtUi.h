#pragma once
// The desktop Ui: message boxes titled "Lumora", the main window's Status label and
// buttons, and the toolkit's event loop for yields.

#include "base/Ui.h"

#include <QMessageBox>

#include <functional>

namespace lumora {

class MainWindow;

class QtUi : public Ui {
public:
    explicit QtUi(MainWindow* form = nullptr) : form_(form) {}
    void setForm(MainWindow* form) { form_ = form; }

    void yield() override;
    void status(const std::string& text) override;
    void progress(double fraction) override;
    void message(const std::string& text, Icon icon) override;
    bool ask(const std::string& text) override;
    void setButtons(bool enable, int keep) override;
    std::string fileText() const override;
    void setFileText(const std::string& text) override;
    bool fileDialog(const std::string& title, const std::string& filterName,
                    const std::string& filterPattern, std::string& folder, std::string& fileName,
                    bool save) override;
    bool goalWindowVisible() const override;
    void refreshGoalList() override;
    bool buttonEnabled(int index) const override;
    void setFileBoxEnabled(bool enable) override;
    void setMainEnabled(bool enable) override;
    void focusButton(int index) override;
    bool absorptionViewVisible() const override;
    void unloadAbsorptionView() override;
    int absorptionViewIndex() const override;
    void showAbsorptionView() override;
    void focusMain() override;
    void statusGeometry(int& left, int& top, int& width, int& height) const override;

    static QMessageBox::Icon ToQt(Icon icon);

    /// The result windows, installed by whoever creates them (unset: no such window).
    struct Views {
        std::function<void()> refreshGoalList;
        std::function<bool()> absorptionVisible;
        std::function<void()> unloadAbsorption;
        std::function<int()> absorptionIndex;
        std::function<void()> showAbsorption;
    };
    Views views;

private:
    MainWindow* form_;
};

} // namespace lumora
