#pragma once

#include <QThread>

class MusicSync;

// The worker thread of one run: runs MusicSync::Start under a guard so that a
// fault ends the run with state 3 instead of ending the program.
class MusicSyncThread : public QThread
{
    Q_OBJECT
public:
    explicit MusicSyncThread(MusicSync *aSync);

    void setForceFullResync(bool aForce) { mForceFullResync = aForce; }

protected:
    void run() override;

private:
    MusicSync *mSync;
    bool mForceFullResync = false;
};
