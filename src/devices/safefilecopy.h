#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <utility>

class QFile;

// Copies a file so that the destination name only ever holds a complete copy:
// the data goes to a temporary file in the destination's folder, reaches the
// medium and only then is renamed. A phone pulled mid-copy keeps no truncated
// file under a name that a later run would take for a finished upload.
//
// copy() does all of it for one file. For many files, stageAs() each one, then
// flushFileSystem(), renameAll() and flushFileSystem() again: two flushes for
// the whole batch instead of one wait on the medium per file.
class SafeFileCopy
{
public:
    enum class Result
    {
        Done,
        Failed,
        NoSpace
    };

    // Temporary files are named prefix + process id + "-" + serial + suffix.
    static inline const QString TemporaryPrefix = QStringLiteral(".mobrelay-");
    static inline const QString TemporarySuffix = QStringLiteral(".part");

    // Without aReplace an existing destination makes the copy fail; with it the
    // old file is replaced only once the new copy is complete.
    static bool copy(const QString &aSource, const QString &aDestination, bool aReplace = false);

    // A name of this process's own beside aDestination, and the copy of aSource
    // into that new file (removed again when the copy fails), not yet flushed.
    static QString temporaryName(const QString &aDestination);
    static Result stageAs(const QString &aSource, const QString &aTemporary);
    // Gives a staged file its final name, replacing a file of that name.
    static bool rename(const QString &aTemporary, const QString &aDestination);
    // rename() of each pair in order, finding a folder once for the pairs in it
    // that follow one another: the walk down a long path costs as much as the
    // rename. aDone(i, ok) hears of each.
    static void renameAll(const QList<std::pair<QString, QString>> &aPairs,
                          const std::function<void(qsizetype, bool)> &aDone);
    // Waits until everything written to the file system holding aPath is on the medium.
    static Result flushFileSystem(const QString &aPath);

    // Copies the data of aSource into an open, empty file.
    static Result copyData(const QString &aSource, QFile &aTarget);

    static bool isTemporaryName(const QString &aFileName);
    // Removes the temporary files of copies that never finished, except aKeep;
    // returns how many were removed.
    static int removeLeftovers(const QString &aFolder, const QSet<QString> &aKeep = {});
    // Moves what is left in a staging folder into aFolder, keeping files
    // aFolder already has, and removes the staging folder once it is empty.
    static void moveRemainingFiles(const QString &aStaging, const QString &aFolder);
};
