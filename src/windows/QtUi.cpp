#include "windows/QtUi.h"

#include "windows/AbsorptionView.h"
#include "windows/AppWindows.h"
#include "windows/MainWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <cstdlib>

namespace lumora {

namespace {
// A box as narrow as a one-word text cuts its title short in many window managers.
void KeepTitleVisible(QMessageBox& box) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setStyleSheet("QLabel#qt_msgbox_label { min-width: 16em; }");
}
} // namespace

QMessageBox::Icon QtUi::ToQt(Icon icon) {
    switch (icon) {
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

void QtUi::setForm(MainWindow* form) {
    form_ = form;
    if (form_) form_->SetPort(this);
}

void QtUi::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUi::status(const std::string& text) {
    if (form_) form_->StatusLabel()->setText(QString::fromStdString(text));
}

void QtUi::progress(double fraction) {
    if (form_) form_->SetProgress(fraction);
}

void QtUi::message(const std::string& text, Icon icon) {
    QMessageBox box(ToQt(icon), "Lumora", QString::fromStdString(text), QMessageBox::Ok, form_);
    KeepTitleVisible(box);
    box.exec();
}

bool QtUi::ask(const std::string& text) {
    QMessageBox box(QMessageBox::Question, "Lumora", QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, form_);
    KeepTitleVisible(box);
    return box.exec() == QMessageBox::Yes;
}

void QtUi::setButtons(bool enable, Command keep) {
    if (form_) form_->SetButtons(enable, keep);
}

std::string QtUi::fileText() const {
    return form_ ? form_->fileEdit()->text().toStdString() : MainWindowPort::fileText();
}

void QtUi::setFileText(const std::string& text) {
    if (form_)
        form_->fileEdit()->setText(QString::fromStdString(text));
    else
        MainWindowPort::setFileText(text);
}

bool QtUi::fileDialog(const std::string& title, const std::string& filterName,
                      const std::string& filterPattern, std::string& folder, std::string& fileName,
                      bool save) {
    QString start = QString::fromStdString(folder);
    if (start.isEmpty())
        start = QString::fromLocal8Bit(std::getenv("HOME") ? std::getenv("HOME") : "/");
    const QString filters = QString::fromStdString(filterName + " (" + filterPattern + ")") +
                            (save ? QString() : QStringLiteral(";;All files (*)"));
    const QString proposed =
        start + (start.endsWith('/') ? "" : "/") + QString::fromStdString(fileName);
    const QString path =
        save
            ? QFileDialog::getSaveFileName(form_, QString::fromStdString(title), proposed, filters)
            : QFileDialog::getOpenFileName(form_, QString::fromStdString(title), proposed, filters);
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    folder = info.absolutePath().toStdString();
    if (folder.empty() || folder.back() != '/') folder += '/';
    fileName = info.fileName().toStdString();
    return true;
}

bool QtUi::goalWindowVisible() const {
    return form_ && form_->goalWindow && form_->goalWindow->isVisible();
}

void QtUi::refreshGoalList() {
    if (windows_) windows_->RefreshGoalList();
}

bool QtUi::buttonEnabled(Command button) const {
    if (!form_ || button == Command::None) return true;
    return form_->Button(button)->isEnabled();
}

void QtUi::setFileBoxEnabled(bool enable) {
    if (form_) form_->fileEdit()->setEnabled(enable);
}

void QtUi::setMainEnabled(bool enable) {
    if (form_) form_->SetControlsEnabled(enable);
}

void QtUi::focusButton(Command button) {
    if (form_ && button != Command::None) form_->Button(button)->setFocus();
}

bool QtUi::absorptionViewVisible() const {
    return windows_ && windows_->AbsorptionVisible();
}

void QtUi::unloadAbsorptionView() {
    if (windows_) windows_->UnloadAbsorption();
}

int QtUi::absorptionViewIndex() const {
    return windows_ ? windows_->AbsorptionIndex() : 0;
}

void QtUi::showAbsorptionView() {
    if (windows_) windows_->Abs().ShowAbsorptionView();
}

void QtUi::focusMain() {
    if (form_) form_->activateWindow();
}

} // namespace lumora
