#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// A backup's SQLite database opened without ever writing beside it. The real
// ones are in WAL mode, where even a read-only open creates "-wal" and "-shm"
// files; "immutable=1" makes SQLite take the file as it is. A missing file is
// never created. Each object has a connection of its own, removed with it.
class BackupDatabase
{
public:
    explicit BackupDatabase(const QString &aPath);
    ~BackupDatabase();
    BackupDatabase(const BackupDatabase &) = delete;
    BackupDatabase &operator=(const BackupDatabase &) = delete;

    // False when the file is missing or SQLite will not open it; see error().
    bool open();
    // True when the file reads as a database (a wrong or encrypted file fails here).
    bool isValid();
    QSqlDatabase &database() { return mDatabase; }
    QString error() const { return mError; }

    bool hasTable(const QString &aTable);
    QStringList columns(const QString &aTable);
    // True when an index of aTable starts with aColumn, so a lookup by it needs no scan.
    bool hasIndexOn(const QString &aTable, const QString &aColumn);

private:
    QString mPath;
    QString mConnection;
    QSqlDatabase mDatabase;
    QString mError;
};
