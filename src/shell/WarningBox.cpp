#include "shell/WarningBox.h"

#include <QMessageBox>

#include <memory>

QMessageBox* MakeWarningBox(const QString& caption, const QString& text, QWidget* parent) {
    auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box->setDefaultButton(QMessageBox::Ok);
    return box;
}

void ShowWarningBox(const QString& caption, const QString& text, QWidget* parent) {
    // Gone when it closes, also when it had no parent.
    const std::unique_ptr<QMessageBox> box(MakeWarningBox(caption, text, parent));
    box->exec();
}
