#pragma once

#include "StopAtStep.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <utility>

// The test side of StopAtStep: a child program of this folder run to stop at a step, and
// the data rows of a test that stops it at each of its steps in turn.
namespace stopatstep {

// Runs `program` with `arguments`, then the step (0: nowhere) and how it stops there; its
// exit code (-1 when it did not end by itself) and what it printed, trimmed.
inline std::pair<int, QString> RunChild(const QString& program, QStringList arguments, int step,
                                        bool halfway) {
    arguments << QString::number(step) << (halfway ? QStringLiteral("halfway") : QStringLiteral("before"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + program, arguments);
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
        return {-1, child.errorString()};
    return {child.exitCode(), QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed()};
}

// Rows "step" and "halfway": every step before it is taken, and every write half done.
inline void AddStepRows(const QStringList& steps) {
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("halfway");
    for (int i = 0; i < steps.size(); ++i) {
        QTest::addRow("%d %s", i + 1, qPrintable(steps[i])) << i + 1 << false;
        if (steps[i] == QLatin1String("write"))
            QTest::addRow("%d %s, half of it", i + 1, qPrintable(steps[i])) << i + 1 << true;
    }
}

} // namespace stopatstep
