#include "view/Commands.h"

const QList<CommandInfo>& CommandTable() {
    static const QList<CommandInfo> table = {
        {ID_IMPORT_OPML, QStringLiteral("&Import OPML File"), {}},
        {ID_EXPORT_OPML, QStringLiteral("&Export OPML File"), {}},
        {ID_UPDATE_ALL, QStringLiteral("Update &All Feeds"), {}},
        {ID_UPDATE_MARKED, QStringLiteral("Update &Marked Feeds"), {}},
        {ID_UPDATE_CURRENT, QStringLiteral("Update &Current Feed"), {}},
        {ID_SEND_TO, QStringLiteral("Send &To"), {}},
        {ID_EDIT_UNDO,
         QStringLiteral("&Undo\tCtrl+Z"),
         {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {ID_EDIT_CUT,
         QStringLiteral("Cu&t\tCtrl+X"),
         {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {ID_EDIT_COPY,
         QStringLiteral("&Copy\tCtrl+C"),
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {ID_EDIT_PASTE,
         QStringLiteral("&Paste\tCtrl+V"),
         {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {ID_OPTIONS, QStringLiteral("&Options"), {}},
        {ID_HELP_CONTENTS, QStringLiteral("&Contents"), {}},
        {ID_NEW_GROUP, QStringLiteral("&Group"), {}},
        {ID_NEW_FEED, QStringLiteral("&Feed"), {}},
        {ID_SORT_BY_NAME, QStringLiteral("&Sort By Name"), {}},
        {ID_TREE_CUT, QStringLiteral("Cu&t"), {}},
        {ID_TREE_COPY, QStringLiteral("&Copy"), {}},
        {ID_TREE_PASTE, QStringLiteral("&Paste"), {}},
        {ID_TREE_DELETE, QStringLiteral("&Delete"), {}},
        {ID_PROPERTIES, QStringLiteral("Propert&ies"), {}},
    };
    return table;
}

const CommandInfo* FindCommand(int id) {
    for (const CommandInfo& info : CommandTable()) {
        if (info.id == id)
            return &info;
    }
    return nullptr;
}
