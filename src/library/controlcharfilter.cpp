#include "library/controlcharfilter.h"

#include <array>
#include <cstring>

namespace {
constexpr qint64 ChunkSize = 64 * 1024;
// "&#x" + up to 16 digits + ";": a longer reference is not one we drop.
constexpr qint64 MaxReference = 20;

constexpr bool isForbidden(unsigned aChar)
{
    return aChar < 0x20 && aChar != '\t' && aChar != '\n' && aChar != '\r';
}

// Bytes that stop the plain copy: forbidden controls and the start of a reference.
constexpr std::array<bool, 256> StopBytes = [] {
    std::array<bool, 256> stops{};
    for (unsigned c = 0; c < 256; ++c)
        stops[c] = isForbidden(c) || c == '&';
    return stops;
}();

int digitValue(char aChar, bool aHex)
{
    if (aChar >= '0' && aChar <= '9')
        return aChar - '0';
    if (!aHex)
        return -1;
    if (aChar >= 'a' && aChar <= 'f')
        return aChar - 'a' + 10;
    if (aChar >= 'A' && aChar <= 'F')
        return aChar - 'A' + 10;
    return -1;
}
} // namespace

ControlCharFilter::ControlCharFilter(QIODevice &aSource) : mSource(aSource) {}

bool ControlCharFilter::atEnd() const
{
    return mPos == mEnd && (mSourceDone || mSource.atEnd());
}

qint64 ControlCharFilter::bytesAvailable() const
{
    return (mEnd - mPos) + mSource.bytesAvailable() + QIODevice::bytesAvailable();
}

qint64 ControlCharFilter::writeData(const char *, qint64)
{
    return -1;
}

// Keeps what is not yet handed out and appends what the source has next. False
// when nothing was added.
bool ControlCharFilter::refill()
{
    if (mSourceDone)
        return false;
    const qint64 kept = mEnd - mPos;
    if (mBuffer.isEmpty())
        mBuffer.resize(ChunkSize);
    else if (kept > 0 && mPos > 0)
        std::memmove(mBuffer.data(), mBuffer.constData() + mPos, size_t(kept));
    mPos = 0;
    mEnd = kept;
    const qint64 got = mSource.read(mBuffer.data() + mEnd, ChunkSize - mEnd);
    if (got <= 0) {
        mSourceDone = true;
        return false;
    }
    mEnd += got;
    if (!mStarted) {
        mStarted = true;
        // UTF-16 and UTF-32 have zero bytes and a BOM; their controls are not single bytes.
        const auto byte = [this](qint64 aAt) { return aAt < mEnd ? uchar(mBuffer.at(aAt)) : 0x20; };
        mPassThrough = byte(0) == 0 || byte(1) == 0 || (byte(0) == 0xFE && byte(1) == 0xFF) ||
                       (byte(0) == 0xFF && byte(1) == 0xFE);
    }
    return true;
}

// At aPos is "&". The length of a reference to a forbidden character there, 0
// when it is anything else, -1 when the buffer ends before that is known.
qint64 ControlCharFilter::forbiddenReferenceLength(qint64 aPos) const
{
    const char *text = mBuffer.constData();
    qint64 at = aPos + 1;
    if (at >= mEnd)
        return -1;
    if (text[at++] != '#')
        return 0;
    if (at >= mEnd)
        return -1;
    const bool hex = text[at] == 'x';
    if (hex)
        ++at;
    unsigned value = 0;
    int digits = 0;
    for (; at < mEnd && at - aPos < MaxReference; ++at) {
        const char c = text[at];
        if (c == ';')
            return digits > 0 && isForbidden(value) ? at + 1 - aPos : 0;
        const int digit = digitValue(c, hex);
        if (digit < 0)
            return 0;
        // Leading zeros are allowed; anything past 0xFF is a character we keep.
        value = qMin(value * (hex ? 16 : 10) + unsigned(digit), 0x100u);
        ++digits;
    }
    return at - aPos >= MaxReference ? 0 : -1;
}

qint64 ControlCharFilter::readData(char *aData, qint64 aMaxSize)
{
    qint64 written = 0;
    while (written < aMaxSize) {
        if (mPos == mEnd && !refill())
            break;
        const qint64 limit = qMin(mEnd, mPos + (aMaxSize - written));
        qint64 stop = limit;
        if (!mPassThrough) {
            const char *text = mBuffer.constData();
            stop = mPos;
            while (stop < limit && !StopBytes[uchar(text[stop])])
                ++stop;
        }
        std::memcpy(aData + written, mBuffer.constData() + mPos, size_t(stop - mPos));
        written += stop - mPos;
        mPos = stop;
        if (stop == limit)
            continue;
        if (mBuffer.at(mPos) != '&') {
            ++mPos;
            ++mDropped;
            continue;
        }
        qint64 length = forbiddenReferenceLength(mPos);
        if (length < 0 && refill())
            continue;
        if (length > 0) {
            mPos += length;
            ++mDropped;
            continue;
        }
        aData[written++] = '&';
        ++mPos;
    }
    return written;
}
