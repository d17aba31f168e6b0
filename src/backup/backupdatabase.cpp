#include "backupdatabase.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace {
QAtomicInt gConnectionNumber;
}

BackupDatabase::BackupDatabase(const QString &aPath)
    : mPath(aPath),
      mConnection(QStringLiteral("backup-%1").arg(gConnectionNumber.fetchAndAddRelaxed(1)))
{}

BackupDatabase::~BackupDatabase()
{
    if (mDatabase.isValid()) {
        mDatabase.close();
        mDatabase = QSqlDatabase();
        QSqlDatabase::removeDatabase(mConnection);
    }
}

bool BackupDatabase::open()
{
    const QFileInfo info(mPath);
    if (!info.isFile()) {
        mError = QStringLiteral("no such file");
        return false;
    }
    mDatabase = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), mConnection);
    if (!mDatabase.isValid()) {
        mError = QStringLiteral("the SQLite driver is missing");
        return false;
    }
    QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    url.setQuery(QStringLiteral("mode=ro&immutable=1"));
    mDatabase.setDatabaseName(url.toString(QUrl::FullyEncoded));
    mDatabase.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    if (!mDatabase.open()) {
        mError = mDatabase.lastError().text();
        return false;
    }
    return true;
}

bool BackupDatabase::isValid()
{
    QSqlQuery query(mDatabase);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        mError = query.lastError().text();
        return false;
    }
    return true;
}

bool BackupDatabase::hasTable(const QString &aTable)
{
    QSqlQuery query(mDatabase);
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?"));
    query.addBindValue(aTable);
    return query.exec() && query.next();
}

QStringList BackupDatabase::columns(const QString &aTable)
{
    QStringList names;
    QSqlQuery query(mDatabase);
    // Table names come from our own code, never from the backup.
    if (query.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(aTable))) {
        while (query.next())
            names.append(query.value(1).toString());
    }
    return names;
}

bool BackupDatabase::hasIndexOn(const QString &aTable, const QString &aColumn)
{
    QSqlQuery indexes(mDatabase);
    if (!indexes.exec(QStringLiteral("PRAGMA index_list(\"%1\")").arg(aTable)))
        return false;
    while (indexes.next()) {
        QSqlQuery columns(mDatabase);
        const QString index = indexes.value(1).toString().replace(u'"', u"\"\""_qs);
        if (columns.exec(QStringLiteral("PRAGMA index_info(\"%1\")").arg(index)) &&
            columns.next() && columns.value(2).toString() == aColumn)
            return true;
    }
    return false;
}
