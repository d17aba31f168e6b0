#include "ipdfile.h"

#include "core/logger.h"

#include <QFile>
#include <QStringDecoder>

namespace {

class Cursor
{
public:
    Cursor(const QByteArray &aData, qsizetype aPos, qsizetype aEnd)
        : mData(aData), mPos(aPos), mEnd(aEnd)
    {}
    qsizetype pos() const { return mPos; }
    qsizetype left() const { return mEnd - mPos; }
    bool little(int aBytes, quint32 &aValue)
    {
        if (left() < aBytes)
            return false;
        aValue = 0;
        for (int i = aBytes - 1; i >= 0; --i)
            aValue = (aValue << 8) | quint8(mData.at(mPos + i));
        mPos += aBytes;
        return true;
    }
    bool bytes(qsizetype aLength, QByteArray &aValue)
    {
        if (aLength > left())
            return false;
        aValue = mData.mid(mPos, aLength);
        mPos += aLength;
        return true;
    }

private:
    const QByteArray &mData;
    qsizetype mPos;
    qsizetype mEnd;
};

} // namespace

QString IpdFile::text(const QByteArray &aBytes)
{
    const qsizetype zero = aBytes.indexOf('\0');
    const QByteArray bytes = zero < 0 ? aBytes : aBytes.left(zero);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString result = decoder(bytes);
    return decoder.hasError() ? QString::fromLatin1(bytes) : result;
}

QString IpdFile::utf16Text(const QByteArray &aBytes)
{
    QStringDecoder decoder(QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless);
    return decoder(QByteArrayView(aBytes).first(aBytes.size() & ~qsizetype(1)));
}

const IpdFile::Database *IpdFile::database(const QString &aName) const
{
    for (const Database &database : mDatabases) {
        if (database.mName == aName)
            return &database;
    }
    return nullptr;
}

IpdFile::Status IpdFile::read(const QString &aPath)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileSize)
        return Status::CannotOpen;
    return parse(file.readAll());
}

IpdFile::Status IpdFile::parse(const QByteArray &aData)
{
    LogScope scope("IpdFile::parse");
    Logger &log = Logger::instance();
    mDatabases.clear();
    mProblems.clear();
    const auto problem = [&](const QString &aText) {
        mProblems.append(aText);
        log.value("problem", aText);
    };
    const qsizetype lineEnd = aData.indexOf('\n');
    if (lineEnd < 0) {
        problem(QStringLiteral("no header line"));
        return Status::NotIpd;
    }
    Cursor header(aData, lineEnd + 1, aData.size());
    quint32 version = 0;
    quint32 countHigh = 0;
    quint32 countLow = 0;
    quint32 separator = 0;
    if (!header.little(1, version) || !header.little(1, countHigh) || !header.little(1, countLow) ||
        !header.little(1, separator) || separator != 0) {
        problem(QStringLiteral("no database list"));
        return Status::NotIpd;
    }
    bool damaged = false;
    const quint32 count = (countHigh << 8) | countLow;
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        QByteArray name;
        if (!header.little(2, length) || !header.bytes(length, name)) {
            problem(QStringLiteral("database name %1 runs past the end").arg(i));
            return Status::Damaged;
        }
        mDatabases.append({text(name), {}});
    }

    Cursor records(aData, header.pos(), aData.size());
    while (records.left() > 0) {
        quint32 id = 0;
        quint32 length = 0;
        if (!records.little(2, id) || !records.little(4, length)) {
            problem(QStringLiteral("the file ends inside a record header"));
            damaged = true;
            break;
        }
        const qsizetype start = records.pos();
        if (length > quint32(records.left())) {
            problem(QStringLiteral("record at %1 runs past the end").arg(start));
            damaged = true;
            break;
        }
        QByteArray body;
        records.bytes(length, body);
        if (id >= quint32(mDatabases.size())) {
            problem(QStringLiteral("record at %1 names unknown database %2").arg(start).arg(id));
            damaged = true;
            continue;
        }
        Cursor fields(body, 0, body.size());
        Record record;
        quint32 value = 0;
        if (!fields.little(1, value)) {
            problem(QStringLiteral("record at %1 is shorter than its header").arg(start));
            damaged = true;
            continue;
        }
        record.mVersion = quint8(value);
        quint32 handle = 0;
        if (!fields.little(2, handle) || !fields.little(4, record.mUniqueId)) {
            problem(QStringLiteral("record at %1 is shorter than its header").arg(start));
            damaged = true;
            continue;
        }
        record.mHandle = quint16(handle);
        bool whole = true;
        while (fields.left() >= 3) {
            quint32 fieldLength = 0;
            quint32 type = 0;
            Field field;
            fields.little(2, fieldLength);
            fields.little(1, type);
            if (!fields.bytes(fieldLength, field.mData)) {
                whole = false;
                break;
            }
            field.mType = quint8(type);
            record.mFields.append(field);
        }
        if (!whole) {
            problem(QStringLiteral("Unexpected file location: record at %1").arg(start));
            damaged = true;
            continue;
        }
        mDatabases[id].mRecords.append(record);
    }
    return damaged ? Status::Damaged : Status::Ok;
}
