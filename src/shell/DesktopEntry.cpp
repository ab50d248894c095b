#include "shell/DesktopEntry.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <algorithm>

namespace DesktopEntry {

namespace {

// The general string escapes of desktop-entry values.
QString UnescapeValue(const QString& strValue) {
    QString strOut;
    strOut.reserve(strValue.size());
    for (qsizetype i = 0; i < strValue.size(); ++i) {
        const QChar c = strValue.at(i);
        if (c != u'\\' || i + 1 == strValue.size()) {
            strOut += c;
            continue;
        }
        const QChar next = strValue.at(++i);
        switch (next.unicode()) {
        case 's':
            strOut += u' ';
            break;
        case 'n':
            strOut += u'\n';
            break;
        case 't':
            strOut += u'\t';
            break;
        case 'r':
            strOut += u'\r';
            break;
        default:
            strOut += next;
        }
    }
    return strOut;
}

// The keys of the [Desktop Entry] group, values unescaped; nothing when the file has no
// such group or cannot be read.
std::optional<QHash<QString, QString>> ReadMainGroup(const QString& strFile) {
    QFile file(strFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QHash<QString, QString> keys;
    bool bInMain = false;
    bool bSeenMain = false;
    while (!file.atEnd()) {
        const QString strLine = QString::fromUtf8(file.readLine()).trimmed();
        if (strLine.isEmpty() || strLine.startsWith(u'#'))
            continue;
        if (strLine.startsWith(u'[')) {
            bInMain = strLine == QLatin1String("[Desktop Entry]");
            bSeenMain = bSeenMain || bInMain;
            continue;
        }
        const qsizetype nEq = strLine.indexOf(u'=');
        if (!bInMain || nEq <= 0)
            continue;
        const QString strKey = strLine.left(nEq).trimmed();
        // The first occurrence of a key counts.
        if (!keys.contains(strKey))
            keys.insert(strKey, UnescapeValue(strLine.mid(nEq + 1).trimmed()));
    }
    if (!bSeenMain)
        return std::nullopt;
    return keys;
}

// "Name[de_DE]", then "Name[de]", then "Name".
QString Localized(const QHash<QString, QString>& keys, const QString& strKey) {
    const QString strLocale = QLocale().name();
    const QString strLanguage = strLocale.section(u'_', 0, 0);
    for (const QString& strTag : {strLocale, strLanguage}) {
        const auto it = keys.constFind(strKey + u'[' + strTag + u']');
        if (it != keys.constEnd() && !it->isEmpty())
            return *it;
    }
    return keys.value(strKey);
}

bool IsTrue(const QHash<QString, QString>& keys, const QString& strKey) {
    return keys.value(strKey).trimmed() == QLatin1String("true");
}

bool ProgramExists(const QString& strProgram, const ISendTargetSource& source) {
    if (strProgram.contains(u'/')) {
        const QFileInfo info(strProgram);
        return info.isFile() && info.isExecutable();
    }
    return !source.FindProgram(strProgram).isEmpty();
}

// %F or %U as an argument of its own: the program takes a list of files.
bool IsListCode(const QString& strArg) {
    return strArg == QLatin1String("%F") || strArg == QLatin1String("%U");
}

// Whether the argument names a file with a field code (and not "%%f", a literal "%f").
bool NamesAFile(const QString& strArg) {
    for (qsizetype i = 0; i + 1 < strArg.size(); ++i) {
        if (strArg.at(i) != u'%')
            continue;
        const QChar code = strArg.at(++i);
        if (code == u'f' || code == u'u' || code == u'F' || code == u'U')
            return true;
    }
    return false;
}

} // namespace

std::optional<QStringList> SplitExec(const QString& strExec) {
    QStringList lstArgs;
    QString strArg;
    bool bInArg = false;
    bool bQuoted = false;
    for (qsizetype i = 0; i < strExec.size(); ++i) {
        const QChar c = strExec.at(i);
        if (bQuoted) {
            if (c == u'"') {
                bQuoted = false;
            } else if (c == u'\\' && i + 1 < strExec.size() &&
                       QStringLiteral("\"`$\\").contains(strExec.at(i + 1))) {
                strArg += strExec.at(++i);
            } else {
                strArg += c;
            }
        } else if (c == u'"') {
            bQuoted = true;
            bInArg = true;
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            if (bInArg)
                lstArgs << strArg;
            strArg.clear();
            bInArg = false;
        } else {
            strArg += c;
            bInArg = true;
        }
    }
    if (bQuoted)
        return std::nullopt;
    if (bInArg)
        lstArgs << strArg;
    return lstArgs;
}

std::optional<SendTarget> ReadSendToEntry(const QString& strFile, const ISendTargetSource& source) {
    const auto keys = ReadMainGroup(strFile);
    if (!keys)
        return std::nullopt;
    const QString strType = keys->value(QStringLiteral("Type"), QStringLiteral("Application"));
    if (strType != QLatin1String("Application") || IsTrue(*keys, QStringLiteral("Hidden")) ||
        IsTrue(*keys, QStringLiteral("NoDisplay")))
        return std::nullopt;
    const QString strTryExec = keys->value(QStringLiteral("TryExec"));
    if (!strTryExec.isEmpty() && !ProgramExists(strTryExec, source))
        return std::nullopt;
    const auto command = SplitExec(keys->value(QStringLiteral("Exec")));
    SendTarget target;
    target.kind = SendTarget::Kind::Run;
    target.strName = Localized(*keys, QStringLiteral("Name")).trimmed();
    if (!command || command->isEmpty() || target.strName.isEmpty())
        return std::nullopt;
    target.lstCommand = *command;
    // Without an Icon key %i expands to nothing; the menu draws a picture of its own.
    target.strIcon = Localized(*keys, QStringLiteral("Icon"));
    target.strWorkDir = keys->value(QStringLiteral("Path"));
    target.strEntryFile = strFile;
    return target;
}

QStringList ExpandCommand(const SendTarget& target, const QStringList& lstFiles) {
    const QString strFirst = lstFiles.value(0);
    QStringList lstOut;
    for (const QString& strArg : target.lstCommand) {
        // A lone %i becomes two arguments, or none without an icon.
        if (strArg == QLatin1String("%i")) {
            if (!target.strIcon.isEmpty())
                lstOut << QStringLiteral("--icon") << target.strIcon;
            continue;
        }
        if (IsListCode(strArg)) {
            lstOut << lstFiles;
            continue;
        }
        QString strOut;
        for (qsizetype i = 0; i < strArg.size(); ++i) {
            const QChar c = strArg.at(i);
            if (c != u'%' || i + 1 == strArg.size()) {
                strOut += c;
                continue;
            }
            switch (strArg.at(++i).unicode()) {
            case 'f':
            case 'F':
            case 'u':
            case 'U':
                strOut += strFirst;
                break;
            case 'c':
                strOut += target.strName;
                break;
            case 'k':
                strOut += target.strEntryFile;
                break;
            case '%':
                strOut += u'%';
                break;
            default:
                // Deprecated and unknown codes expand to nothing.
                break;
            }
        }
        // An argument that was nothing but dropped codes goes away with them.
        if (strOut.isEmpty() && !strArg.isEmpty())
            continue;
        lstOut << strOut;
    }
    return lstOut;
}

QList<QStringList> ExpandCommands(const SendTarget& target, const QStringList& lstFiles) {
    const QStringList& lstCommand = target.lstCommand;
    const bool bTakesList = std::any_of(lstCommand.begin(), lstCommand.end(), IsListCode);
    const bool bTakesOne = std::any_of(lstCommand.begin(), lstCommand.end(), NamesAFile);
    if (bTakesList || !bTakesOne || lstFiles.size() < 2)
        return {ExpandCommand(target, lstFiles)};
    QList<QStringList> lstCommands;
    for (const QString& strFile : lstFiles)
        lstCommands << ExpandCommand(target, {strFile});
    return lstCommands;
}

} // namespace DesktopEntry
