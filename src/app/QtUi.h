#pragma once
// The desktop Ui: message boxes titled "Lumora", the main window's Status label and
// buttons, and the toolkit's event loop for yields.

#include "Ui.h"

#include <QMessageBox>

namespace lumora {

class Form1;

class QtUi : public Ui {
public:
    explicit QtUi(Form1* form = nullptr) : form_(form) {}
    void setForm(Form1* form) { form_ = form; }

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
    void focusMain() override;
    void statusGeometry(int& left, int& top, int& width, int& height) const override;

    static QMessageBox::Icon ToQt(Icon icon);

private:
    Form1* form_;
};

} // namespace lumora
