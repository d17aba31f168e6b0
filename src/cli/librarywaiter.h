#pragma once

#include <QString>

// Finds the library file of one call and waits, for a limited time, until it
// can be read: the window waits for a busy library as long as it lasts, a
// headless call must not hang.
class LibraryWaiter
{
public:
    // The override when given, else the configured or usual location.
    static QString libraryFile(const QString &aOverride);
    // 0 when the file can be read; ExitCode::NoInput at once for a missing file;
    // ExitCode::DataError at once for a malformed file or one that is no library;
    // ExitCode::TemporaryFailure when it stays busy for aSeconds; Interrupted when
    // interrupted. aMessage explains any failure.
    static int waitUntilReadable(const QString &aPath, int aSeconds, QString &aMessage);
};
