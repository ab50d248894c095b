#pragma once

#include <QString>

#include <functional>

class OutlineTree;

// The channel file on disk: its saves, the numbered backups that Undo restores, and
// what a damaged file or a save cut short leaves behind. It shows nothing and asks
// nothing; every operation that can fail says why in `error`, and the caller decides
// what the user is told.
class ChannelStore {
public:
    // The path of backup number n, or an empty string and the reason when the folder
    // for it cannot be used. Asked at every backup and restore, so that a folder
    // removed while the program runs is made again.
    using BackupLocator = std::function<QString(unsigned n, QString* error)>;

    ChannelStore(QString channelFile, BackupLocator backupFile);

    const QString& ChannelFile() const { return m_strChannelFile; }

    // Makes backup n from the channel file as it is now; with no channel file yet the
    // backup is empty, so that undoing this step gives the empty list and never a
    // backup left under the number by an earlier run. A failed backup is removed.
    bool Backup(unsigned n, QString* error) const;

    // Writes the tree to the channel file (creating its folder) so that the file is
    // always either the old one or the new one whole, on disk as well, even when the
    // process dies or the power fails half-way.
    bool Write(const OutlineTree& tree, QString* error) const;

    // Puts backup n back as the channel file, as safely as Write.
    bool Restore(unsigned n, QString* error) const;

    // Removes what saves cut short left beside the channel file; for the start-up,
    // when no save of ours can be under way. Only files that carry the name our own
    // save gives them are touched.
    void RemoveUnfinishedSaves() const;

    // Keeps the channel file as it is beside it, for one that did not load whole, and
    // returns the copy's path (empty when none could be made). A copy with the same
    // bytes kept at an earlier start is that copy: a file is kept once.
    QString KeepDamagedCopy() const;

private:
    QString m_strChannelFile;
    BackupLocator m_backupFile;
};
