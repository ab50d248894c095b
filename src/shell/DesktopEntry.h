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

// The program and arguments of a Run target for the files, field codes replaced: %F and %U
// standing alone give every file, each an argument of its own; otherwise the first file
// takes the place of a file code.
QStringList ExpandCommand(const SendTarget& target, const QStringList& lstFiles);

// The commands that hand the files to a Run target: one when it takes a list (%F, %U) or
// no file at all, else one per file (%f, %u).
QList<QStringList> ExpandCommands(const SendTarget& target, const QStringList& lstFiles);

} // namespace DesktopEntry
