#pragma once
// The main window as the window tests see it: its buttons, box and result windows are
// the scripted fields of a TestUi.

#include "TestUi.h"
#include "windows/MainWindowPort.h"

namespace lumora::test {

class TestPort : public MainWindowPort {
public:
    explicit TestPort(TestUi& ui) : ui_(ui) {}

    void setButtons(bool enable, Command keep) override {
        ui_.buttonCalls.push_back({enable, static_cast<int>(keep)});
    }
    bool buttonEnabled(Command b) const override {
        const int i = static_cast<int>(b);
        return i < 1 || i > 6 || ui_.buttonsOn[static_cast<size_t>(i - 1)];
    }
    void setFileBoxEnabled(bool enable) override { ui_.fileBoxEnabled = enable; }
    void setMainEnabled(bool enable) override { ui_.mainEnabled = enable; }
    void focusButton(Command b) override { ui_.focusedButton = static_cast<int>(b); }
    std::string fileText() const override { return ui_.fileText; }
    void setFileText(const std::string& text) override { ui_.fileText = text; }
    bool fileDialog(const std::string& title, const std::string& filterName,
                    const std::string& filterPattern, std::string& folder, std::string& fileName,
                    bool save) override {
        return ui_.request().openDialog(title, filterName, filterPattern, folder, fileName, save);
    }
    bool goalWindowVisible() const override { return ui_.goalVisible; }
    void refreshGoalList() override { ++ui_.goalListRefreshes; }
    bool absorptionViewVisible() const override { return ui_.absorptionVisible; }
    void unloadAbsorptionView() override { ++ui_.absorptionUnloads; }
    int absorptionViewIndex() const override { return ui_.absorptionIndex; }
    void showAbsorptionView() override { ++ui_.absorptionShows; }

protected:
    TestUi& ui() { return ui_; }

private:
    TestUi& ui_;
};

} // namespace lumora::test
