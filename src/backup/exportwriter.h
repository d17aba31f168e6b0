#pragma once

#include <QSaveFile>
#include <QString>
#include <QXmlStreamWriter>

// An indented UTF-8 XML document written through QSaveFile: the file appears
// only when commit() succeeds, so a failed export never leaves half a file
// that a later copy could take for a good one.
class ExportWriter
{
public:
    explicit ExportWriter(const QString &aPath);

    // Opens the file and writes the declaration and the root's start tag.
    bool open(const QString &aRoot);
    // Closes the root and the document; false when anything failed on the way.
    bool commit();

    void startElement(const QString &aName) { mXml.writeStartElement(aName); }
    void endElement() { mXml.writeEndElement(); }
    void attribute(const QString &aName, const QString &aValue)
    {
        mXml.writeAttribute(aName, clean(aValue));
    }
    void textElement(const QString &aName, const QString &aText)
    {
        mXml.writeTextElement(aName, clean(aText));
    }

    // Drops the characters that XML 1.0 forbids (controls, lone surrogates, U+FFFE/U+FFFF).
    static QString clean(const QString &aText);

private:
    QSaveFile mFile;
    QXmlStreamWriter mXml;
};
