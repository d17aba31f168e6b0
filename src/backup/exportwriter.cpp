#include "exportwriter.h"

ExportWriter::ExportWriter(const QString &aPath) : mFile(aPath)
{
    mXml.setAutoFormatting(true);
}

bool ExportWriter::open(const QString &aRoot)
{
    if (!mFile.open(QIODevice::WriteOnly))
        return false;
    mXml.setDevice(&mFile);
    mXml.writeStartDocument();
    mXml.writeStartElement(aRoot);
    return true;
}

bool ExportWriter::commit()
{
    mXml.writeEndElement();
    mXml.writeEndDocument();
    if (mXml.hasError()) {
        mFile.cancelWriting();
        mFile.commit();
        return false;
    }
    return mFile.commit();
}

QString ExportWriter::clean(const QString &aText)
{
    const auto allowed = [](char16_t aChar) {
        return aChar == 0x9 || aChar == 0xA || aChar == 0xD ||
               (aChar >= 0x20 && aChar != 0xFFFE && aChar != 0xFFFF);
    };
    qsizetype i = 0;
    const qsizetype size = aText.size();
    for (; i < size; ++i) {
        const char16_t c = aText.at(i).unicode();
        if (!allowed(c) || QChar::isSurrogate(c))
            break;
    }
    if (i == size)
        return aText;
    QString result = aText.left(i);
    result.reserve(size);
    for (; i < size; ++i) {
        const char16_t c = aText.at(i).unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < size && QChar::isLowSurrogate(aText.at(i + 1).unicode())) {
                result.append(aText.at(i));
                result.append(aText.at(++i));
            }
            continue;
        }
        if (allowed(c) && !QChar::isLowSurrogate(c))
            result.append(QChar(c));
    }
    return result;
}
