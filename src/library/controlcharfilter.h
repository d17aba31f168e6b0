#pragma once

#include <QByteArray>
#include <QIODevice>

// Reads a UTF-8 XML stream from another device without the characters XML 1.0
// forbids (C0 controls other than tab, line feed and carriage return), whether
// written raw or as character references. iTunes writes such characters into
// names as they are, and a conforming reader rejects the whole file for one.
// Streams in other encodings pass unchanged.
class ControlCharFilter : public QIODevice
{
public:
    explicit ControlCharFilter(QIODevice &aSource);

    bool isSequential() const override { return true; }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;
    // Characters left out so far.
    qint64 dropped() const { return mDropped; }

protected:
    qint64 readData(char *aData, qint64 aMaxSize) override;
    qint64 writeData(const char *aData, qint64 aSize) override;

private:
    bool refill();
    qint64 forbiddenReferenceLength(qint64 aPos) const;

    QIODevice &mSource;
    QByteArray mBuffer;
    qint64 mPos = 0;
    qint64 mEnd = 0;
    bool mSourceDone = false;
    bool mStarted = false;
    bool mPassThrough = false;
    qint64 mDropped = 0;
};
