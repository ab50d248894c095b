#include "shell/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kResultCancel = 2;
} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Pellavo"));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setPixmap(QPixmap(QStringLiteral(":/images/about.png")));
    picture->setAlignment(Qt::AlignTop);

    auto* product = new QLabel(QStringLiteral("Pellavo "), this);
    product->setObjectName(QStringLiteral("product"));
    QFont productFont = product->font();
    productFont.setBold(true);
    productFont.setPointSizeF(productFont.pointSizeF() * 1.4);
    product->setFont(productFont);
    product->setMinimumWidth(200);
    auto* version = new QLabel(QStringLiteral("Version 1.0"), this);
    version->setObjectName(QStringLiteral("version"));

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(product);
    text->addWidget(version);
    text->addStretch(1);
    text->addWidget(separator);
    text->addWidget(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(picture);
    layout->addSpacing(8);
    layout->addLayout(text, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    ok->setFocus();
}

void CAboutDlg::reject() {
    done(kResultCancel);
}
