#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

// Process-wide trace log. It is on only while home/Desktop/KVL exists when the
// log is opened; every call first tests the file pointer so that an idle log
// costs one load and builds no text. Each program opens it in main(), once it
// knows it is going to run.
class Logger
{
public:
    static Logger &instance();

    static QString defaultLogFolder();

    // Opens home/Desktop/KVL/log.txt when that folder exists, otherwise switches the log off.
    void openDefault();
    // Truncates and writes to aPath; an empty path, a failed open or a file that
    // another process is writing switches the log off.
    void openFile(const QString &aPath);
    void close();
    // After a fault was caught on this thread in the middle of a write: ends
    // the broken line and releases the lock that the write still held.
    void recoverAfterFault();

    bool isOn() const { return mFile.load(std::memory_order_acquire) != nullptr; }

    void enter(const char *aName)
    {
        if (isOn())
            writeLine(">> ", aName);
    }
    void leave(const char *aName)
    {
        if (isOn())
            writeLine("<< ", aName);
    }
    void returns(int aValue)
    {
        if (isOn())
            writeReturns(aValue);
    }
    void text(const char *aText)
    {
        if (isOn())
            writeLine("    ", aText);
    }
    void text(const QString &aText)
    {
        if (isOn())
            writeLine("    ", aText.toUtf8().constData());
    }
    void value(const char *aName, const char *aText)
    {
        if (isOn())
            writeValue(aName, aText, aText ? std::strlen(aText) : 0);
    }
    void value(const char *aName, int aValue)
    {
        if (isOn())
            writeIntValue(aName, aValue);
    }
    void value(const char *aName, const std::string &aText)
    {
        if (isOn())
            writeValue(aName, aText.data(), aText.size());
    }
    void value(const char *aName, const QByteArray &aText)
    {
        if (isOn())
            writeValue(aName, aText.constData(), size_t(aText.size()));
    }
    void value(const char *aName, const QString &aText)
    {
        if (isOn())
            writeValue(aName, aText);
    }
    void dumpFile(const QString &aPath);

    Logger(const Logger &) = delete;
    Logger &operator=(const Logger &) = delete;

private:
    Logger();
    ~Logger();

    void writeLine(const char *aMarker, const char *aText);
    void writeReturns(int aValue);
    void writeIntValue(const char *aName, int aValue);
    void writeValue(const char *aName, const QString &aText);
    void writeValue(const char *aName, const char *aText, size_t aLength);
    void writeTimestamp(std::FILE *aFile);
    void put(std::FILE *aFile, const char *aData, size_t aLength);
    // A null text is written as an empty one rather than taking the program down.
    void put(std::FILE *aFile, const char *aText)
    {
        if (aText)
            put(aFile, aText, std::strlen(aText));
    }

    std::atomic<std::FILE *> mFile{nullptr};
    std::mutex mLock;
};

// Writes the entry line now and the exit line when the scope ends; a traced
// function that returns a result code calls ret() on its way out instead.
class LogScope
{
public:
    explicit LogScope(const char *aName) : mName(aName) { Logger::instance().enter(aName); }
    ~LogScope()
    {
        if (!mReturned)
            Logger::instance().leave(mName);
    }
    int ret(int aCode)
    {
        Logger &log = Logger::instance();
        log.leave(mName);
        log.returns(aCode);
        mReturned = true;
        return aCode;
    }
    LogScope(const LogScope &) = delete;
    LogScope &operator=(const LogScope &) = delete;

private:
    const char *mName;
    bool mReturned = false;
};
