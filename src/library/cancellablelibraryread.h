#pragma once

#include "library/itunesappfactory.h"

#include <QMutex>

#include <functional>
#include <memory>

class LocalMusicLibrary;

// One read of the library on a worker thread, with a library object of its
// own, that any other thread can cancel: also before the read has begun, and
// while it waits for a busy library.
class CancellableLibraryRead
{
public:
    // A null factory reads the library file.
    explicit CancellableLibraryRead(std::shared_ptr<ITunesAppFactory> aFactory);
    CancellableLibraryRead(const CancellableLibraryRead &) = delete;
    CancellableLibraryRead &operator=(const CancellableLibraryRead &) = delete;

    // On the worker thread. False when cancelled before aRead could begin.
    bool run(const std::function<void(LocalMusicLibrary &)> &aRead);
    void cancel();
    bool isCancelled() const;

private:
    std::shared_ptr<ITunesAppFactory> mFactory;
    mutable QMutex mLock;
    LocalMusicLibrary *mLibrary = nullptr;
    bool mCancelled = false;
};
