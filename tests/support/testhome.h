#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points HOME at a fresh temporary folder for the lifetime of the object, so
// settings, caches and the log of a test never touch the real home folder.
class TestHome
{
public:
    TestHome();
    ~TestHome();

    QString path() const { return mDir.path(); }
    QString filePath(const QString &aName) const { return mDir.filePath(aName); }
    bool isValid() const { return mDir.isValid(); }
    // Creates home/Desktop/KVL and (re)opens the trace log there.
    QString enableLog();
    void disableLog();

    // Folder of the real sample files, or empty when it is not beside the repository.
    static QString realTestData(const QString &aSubPath = QString());

private:
    QTemporaryDir mDir;
    QByteArray mOldHome;
};
