#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Reads an Apple property list, binary ("bplist00") or XML, into Qt values:
// dictionaries become QVariantMap, arrays QVariantList, data QByteArray.
// Damaged input gives an invalid QVariant, never a crash or an endless loop.
class PropertyList
{
public:
    static QVariant read(const QByteArray &aBytes);
    static QVariant readFile(const QString &aPath);
    // A top-level string or boolean, or an empty/false value when absent.
    static QString stringValue(const QVariant &aList, const QString &aKey);
    static bool boolValue(const QVariant &aList, const QString &aKey);

    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

private:
    static QVariant readBinary(const QByteArray &aBytes);
    static QVariant readXml(const QByteArray &aBytes);
};
