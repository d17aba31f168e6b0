#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A BlackBerry desktop backup (".ipd"): a header line, a list of database names
// and records of typed fields. Every length in the file is checked against its
// parent before it is used, and each step moves forward, so a damaged or
// foreign file gives the records that can be read and a status saying so.
class IpdFile
{
public:
    enum class Status
    {
        Ok,
        CannotOpen,
        NotIpd, // no header line, or no database list
        Damaged // read, but some records were dropped or the file ended early
    };

    struct Field
    {
        quint8 mType = 0;
        QByteArray mData;
    };
    struct Record
    {
        quint8 mVersion = 0;
        quint16 mHandle = 0;
        quint32 mUniqueId = 0;
        QList<Field> mFields;
    };
    struct Database
    {
        QString mName;
        QList<Record> mRecords;
    };

    Status read(const QString &aPath);
    Status parse(const QByteArray &aData);

    const QList<Database> &databases() const { return mDatabases; }
    // Null when the file has no database of that name.
    const Database *database(const QString &aName) const;
    // What was wrong, one line each, for the log.
    QStringList problems() const { return mProblems; }

    // UTF-8 up to the first zero byte; Latin-1 when the bytes are not UTF-8.
    static QString text(const QByteArray &aBytes);
    // UTF-16 big-endian; an odd last byte is dropped.
    static QString utf16Text(const QByteArray &aBytes);

    static constexpr qint64 MaxFileSize = 2LL * 1024 * 1024 * 1024;

private:
    QList<Database> mDatabases;
    QStringList mProblems;
};
