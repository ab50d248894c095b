#include "ModalScript.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

ModalScript::ModalScript() {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer.start();
}

ModalScript::~ModalScript() {
    m_timer.stop();
}

ModalScript& ModalScript::then(Step step) {
    m_steps.push_back(std::move(step));
    return *this;
}

QString ModalScript::report() const {
    QString text = QStringLiteral("%1 step(s) left").arg(m_steps.size());
    if (!m_unexpected.isEmpty())
        text += QStringLiteral("; unexpected: ") + m_unexpected.join(QStringLiteral(", "));
    return text;
}

void ModalScript::poll() {
    // Popup menus and modal windows; a line edit's completion list is neither.
    QWidget* window = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!window)
        window = QApplication::activeModalWidget();
    if (!window || !window->isVisible())
        return;
    const QString name =
        window->metaObject()->className() + QStringLiteral(" \"") + window->windowTitle() + QLatin1Char('"');
    if (window == m_handled) {
        if (m_handledSince.elapsed() > 5000) {
            m_unexpected.append(name + QStringLiteral(" left open"));
            m_handledSince.restart();
            QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
        }
        return;
    }
    m_handled = window;
    m_handledSince.start();
    if (m_steps.empty()) {
        m_unexpected.append(name);
        QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
        return;
    }
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    // Each step runs in its own event, so that a dialog it opens (and the nested
    // event loop of that dialog) can be answered by the next step.
    QPointer<QWidget> target = window;
    QTimer::singleShot(0, window, [step = std::move(step), target] {
        if (target)
            step(target);
    });
}

namespace steps {

ModalScript::Step acceptMessage(Message* seen) {
    return [seen](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box) {
            seen->caption = box->windowTitle();
            seen->text = box->text();
            seen->warningIcon = box->icon() == QMessageBox::Warning;
            seen->okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok);
        }
        QTest::keyClick(window, Qt::Key_Return);
    };
}

ModalScript::Step pressReturn() {
    return [](QWidget* window) {
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Return);
    };
}

ModalScript::Step pressEscape() {
    return [](QWidget* window) {
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Escape);
    };
}

ModalScript::Step typeFileName(const QString& path) {
    return [path](QWidget* window) {
        auto* edit = window->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) {
            QTest::keyClick(window, Qt::Key_Escape);
            return;
        }
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, path);
        if (QCompleter* completer = edit->completer())
            completer->popup()->hide();
        QTest::keyClick(edit, Qt::Key_Return);
    };
}

} // namespace steps
