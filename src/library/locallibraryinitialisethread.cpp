#include "library/locallibraryinitialisethread.h"

#include "library/localmusiclibrary.h"

LocalLibraryInitialiseThread::LocalLibraryInitialiseThread(LocalMusicLibrary *aLibrary,
                                                           QObject *aParent)
    : QThread(aParent), mLibrary(aLibrary)
{}

void LocalLibraryInitialiseThread::run()
{
    mLibrary->initialise();
}
