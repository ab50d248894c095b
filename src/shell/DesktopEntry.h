#pragma once

#include "shell/SendTargets.h"

#include <optional>

class ISendTargetSource;

namespace DesktopEntry {

// Splits an Exec value (already unescaped as a string value) into arguments, honouring
// double quotes and their backslash escapes; nothing when the quoting is broken.
std::optional<QStringList> SplitExec(const QString& strExec);

// A send-to desktop entry as a menu target; nothing when the entry is broken, hidden,
// not for display or names a TryExec program that is not installed.
std::optional<SendTarget> ReadSendToEntry(const QString& strFile, const ISendTargetSource& source);

// The program and arguments of a Run target for one file, field codes replaced.
QStringList ExpandCommand(const SendTarget& target, const QString& strFile);

// An argument that must reach the program exactly as given.
QString Literal(const QString& strArg);

} // namespace DesktopEntry
