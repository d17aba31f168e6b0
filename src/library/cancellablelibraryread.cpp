#include "library/cancellablelibraryread.h"

#include "library/localmusiclibrary.h"

CancellableLibraryRead::CancellableLibraryRead(std::shared_ptr<ITunesAppFactory> aFactory)
    : mFactory(std::move(aFactory))
{}

bool CancellableLibraryRead::run(const std::function<void(LocalMusicLibrary &)> &aRead)
{
    auto library = mFactory ? std::make_unique<LocalMusicLibrary>(mFactory)
                            : std::make_unique<LocalMusicLibrary>();
    {
        QMutexLocker locker(&mLock);
        if (mCancelled)
            return false;
        mLibrary = library.get();
    }
    aRead(*library);
    QMutexLocker locker(&mLock);
    mLibrary = nullptr;
    return true;
}

void CancellableLibraryRead::cancel()
{
    QMutexLocker locker(&mLock);
    mCancelled = true;
    if (mLibrary)
        mLibrary->setCancelled(true);
}

bool CancellableLibraryRead::isCancelled() const
{
    QMutexLocker locker(&mLock);
    return mCancelled;
}
