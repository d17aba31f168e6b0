#include "propertylist.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <cstring>

namespace {

constexpr int MaxDepth = 64;
// Shared sub-objects could make a small file expand without end.
constexpr int MaxObjectsRead = 200000;

class BinaryReader
{
public:
    explicit BinaryReader(const QByteArray &aBytes) : mData(aBytes) {}

    QVariant read()
    {
        const qint64 size = mData.size();
        if (size < 8 + 32)
            return {};
        const auto *trailer = reinterpret_cast<const uchar *>(mData.constData()) + size - 32;
        mOffsetSize = trailer[6];
        mRefSize = trailer[7];
        mObjectCount = quint64(number(trailer + 8, 8));
        const quint64 top = number(trailer + 16, 8);
        mTableOffset = number(trailer + 24, 8);
        if (mOffsetSize < 1 || mOffsetSize > 8 || mRefSize < 1 || mRefSize > 8 ||
            top >= mObjectCount || mTableOffset < 8 || mTableOffset > quint64(size - 32) ||
            mObjectCount > (quint64(size - 32) - mTableOffset) / mOffsetSize)
            return {};
        return object(top, 0);
    }

private:
    static quint64 number(const uchar *aBytes, int aSize)
    {
        quint64 value = 0;
        for (int i = 0; i < aSize; ++i)
            value = (value << 8) | aBytes[i];
        return value;
    }
    const uchar *at(quint64 aOffset, quint64 aLength) const
    {
        const quint64 end = quint64(mData.size()) - 32;
        if (aOffset > end || aLength > end - aOffset)
            return nullptr;
        return reinterpret_cast<const uchar *>(mData.constData()) + aOffset;
    }
    bool offsetOf(quint64 aIndex, quint64 &aOffset) const
    {
        if (aIndex >= mObjectCount)
            return false;
        const uchar *entry = at(mTableOffset + aIndex * mOffsetSize, mOffsetSize);
        if (!entry)
            return false;
        aOffset = number(entry, mOffsetSize);
        return aOffset >= 8;
    }
    // Reads the count of a marker whose low nibble is 0xF from the int object that follows.
    bool count(quint64 &aOffset, uchar aLow, quint64 &aCount) const
    {
        if (aLow != 0x0F) {
            aCount = aLow;
            return true;
        }
        const uchar *marker = at(aOffset, 1);
        if (!marker || (*marker & 0xF0) != 0x10)
            return false;
        const int bytes = 1 << (*marker & 0x0F);
        const uchar *value = bytes <= 8 ? at(aOffset + 1, bytes) : nullptr;
        if (!value)
            return false;
        aCount = number(value, bytes);
        aOffset += 1 + bytes;
        return true;
    }

    QVariant object(quint64 aIndex, int aDepth)
    {
        quint64 offset = 0;
        if (aDepth > MaxDepth || ++mObjectsRead > MaxObjectsRead || !offsetOf(aIndex, offset))
            return {};
        const uchar *marker = at(offset, 1);
        if (!marker)
            return {};
        const uchar high = *marker >> 4;
        const uchar low = *marker & 0x0F;
        ++offset;
        quint64 n = 0;
        switch (high) {
        case 0x0:
            if (low == 0x08 || low == 0x09)
                return low == 0x09;
            return {};
        case 0x1: {
            const int bytes = 1 << low;
            const uchar *value = bytes <= 8 ? at(offset, bytes) : nullptr;
            return value ? QVariant(qint64(number(value, bytes))) : QVariant();
        }
        case 0x2:
        case 0x3: {
            const int bytes = 1 << low;
            const uchar *value = (bytes == 4 || bytes == 8) ? at(offset, bytes) : nullptr;
            if (!value)
                return {};
            double real = 0;
            if (bytes == 8) {
                const quint64 bits = number(value, 8);
                std::memcpy(&real, &bits, 8);
            } else {
                const quint32 bits = quint32(number(value, 4));
                float single = 0;
                std::memcpy(&single, &bits, 4);
                real = single;
            }
            if (high == 0x2)
                return real;
            return QDateTime::fromSecsSinceEpoch(qint64(real) + 978307200, Qt::UTC);
        }
        case 0x4:
        case 0x5:
        case 0x6: {
            if (!count(offset, low, n))
                return {};
            const quint64 bytes = high == 0x6 ? n * 2 : n;
            if (n > quint64(mData.size()))
                return {};
            const uchar *value = at(offset, bytes);
            if (!value)
                return {};
            const char *text = reinterpret_cast<const char *>(value);
            if (high == 0x4)
                return QByteArray(text, qsizetype(bytes));
            if (high == 0x5)
                return QString::fromLatin1(text, qsizetype(bytes));
            QStringDecoder decoder(QStringDecoder::Utf16BE);
            return QString(decoder(QByteArrayView(text, qsizetype(bytes))));
        }
        case 0xA:
        case 0xD: {
            if (!count(offset, low, n))
                return {};
            const quint64 refs = high == 0xD ? n * 2 : n;
            if (n > mObjectCount)
                return {};
            const uchar *table = at(offset, refs * mRefSize);
            if (!table)
                return {};
            if (!mOpen.contains(aIndex)) {
                mOpen.insert(aIndex);
            } else {
                return {}; // a reference loop
            }
            QVariant result;
            if (high == 0xA) {
                QVariantList list;
                for (quint64 i = 0; i < n; ++i)
                    list.append(object(number(table + i * mRefSize, mRefSize), aDepth + 1));
                result = list;
            } else {
                QVariantMap map;
                for (quint64 i = 0; i < n; ++i) {
                    const QVariant key = object(number(table + i * mRefSize, mRefSize), aDepth + 1);
                    if (key.typeId() == QMetaType::QString)
                        map.insert(
                            key.toString(),
                            object(number(table + (n + i) * mRefSize, mRefSize), aDepth + 1));
                }
                result = map;
            }
            mOpen.remove(aIndex);
            return result;
        }
        default:
            return {};
        }
    }

    const QByteArray &mData;
    int mOffsetSize = 0;
    int mRefSize = 0;
    quint64 mObjectCount = 0;
    quint64 mTableOffset = 0;
    QSet<quint64> mOpen;
    int mObjectsRead = 0;
};

QVariant xmlValue(QXmlStreamReader &aReader, int aDepth)
{
    if (aDepth > MaxDepth) {
        aReader.raiseError(QStringLiteral("too deep"));
        return {};
    }
    const QStringView name = aReader.name();
    if (name == u"dict") {
        QVariantMap map;
        QString key;
        while (aReader.readNextStartElement()) {
            if (aReader.name() == u"key")
                key = aReader.readElementText();
            else
                map.insert(key, xmlValue(aReader, aDepth + 1));
        }
        return map;
    }
    if (name == u"array") {
        QVariantList list;
        while (aReader.readNextStartElement())
            list.append(xmlValue(aReader, aDepth + 1));
        return list;
    }
    if (name == u"true" || name == u"false") {
        const bool value = name == u"true";
        aReader.skipCurrentElement();
        return value;
    }
    const QString text = aReader.readElementText(QXmlStreamReader::SkipChildElements);
    if (name == u"integer")
        return text.trimmed().toLongLong();
    if (name == u"real")
        return text.trimmed().toDouble();
    if (name == u"data")
        return QByteArray::fromBase64(text.toLatin1());
    if (name == u"date")
        return QDateTime::fromString(text.trimmed(), Qt::ISODate);
    return text;
}

} // namespace

QVariant PropertyList::read(const QByteArray &aBytes)
{
    if (aBytes.startsWith("bplist00"))
        return readBinary(aBytes);
    return readXml(aBytes);
}

QVariant PropertyList::readFile(const QString &aPath)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileSize)
        return {};
    return read(file.readAll());
}

QString PropertyList::stringValue(const QVariant &aList, const QString &aKey)
{
    const QVariant value = aList.toMap().value(aKey);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool PropertyList::boolValue(const QVariant &aList, const QString &aKey)
{
    const QVariant value = aList.toMap().value(aKey);
    return value.typeId() == QMetaType::Bool && value.toBool();
}

QVariant PropertyList::readBinary(const QByteArray &aBytes)
{
    return BinaryReader(aBytes).read();
}

QVariant PropertyList::readXml(const QByteArray &aBytes)
{
    QXmlStreamReader reader(aBytes);
    if (!reader.readNextStartElement() || reader.name() != u"plist" ||
        !reader.readNextStartElement())
        return {};
    QVariant value = xmlValue(reader, 0);
    return reader.hasError() ? QVariant() : value;
}
