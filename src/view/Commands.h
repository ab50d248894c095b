#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

// Command ids of the tree view's commands. The main menu, the context menus, the
// accelerators and the task bar all run them through the view's RunCommand.
enum CommandId : int {
    ID_PROPERTIES = 32775,
    ID_UPDATE_ALL = 32777,
    ID_UPDATE_MARKED = 32778,
    ID_UPDATE_CURRENT = 32779,
    ID_OPTIONS = 32780,
    ID_IMPORT_OPML = 32781,
    ID_EXPORT_OPML = 32782,
    ID_NEW_GROUP = 32786,
    ID_NEW_FEED = 32787,
    ID_TREE_CUT = 32788,
    ID_TREE_COPY = 32789,
    ID_TREE_PASTE = 32790,
    ID_TREE_DELETE = 32791,
    ID_SORT_BY_NAME = 32792,
    ID_SEND_TO = 32794,
    ID_HELP_CONTENTS = 32798,
    ID_DELIVER_NOW = 32800,
    ID_DELIVERY = 32801,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
};

struct CommandInfo {
    int id;
    // The menu text with its & mnemonic; a tab separates the accelerator column.
    QString text;
    // Every key that runs the command, the one shown in the menu first.
    QList<QKeySequence> shortcuts;
    // What the command does, in one sentence: its status tip.
    QString prompt = {};
};

// Every command of the view: the main menu's in menu order, then the context menus'.
const QList<CommandInfo>& CommandTable();
