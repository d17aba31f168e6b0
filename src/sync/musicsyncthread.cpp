#include "sync/musicsyncthread.h"

#include "sync/musicsync.h"

MusicSyncThread::MusicSyncThread(MusicSync *aSync) : QThread(aSync), mSync(aSync) {}

void MusicSyncThread::run()
{
    mSync->runGuarded(mForceFullResync);
}
