#pragma once

#include <QDialog>

// The about box: Pellavo's picture, its name and version, and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Escape and the close box end the box with 2, like Cancel in Pellavo's other dialogs;
    // OK ends it with 1.
    void reject() override;
};
