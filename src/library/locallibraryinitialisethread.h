#pragma once

#include <QThread>

class LocalMusicLibrary;

// Makes the first contact with the library away from the user interface.
class LocalLibraryInitialiseThread : public QThread
{
    Q_OBJECT
public:
    explicit LocalLibraryInitialiseThread(LocalMusicLibrary *aLibrary, QObject *aParent = nullptr);

protected:
    void run() override;

private:
    LocalMusicLibrary *mLibrary;
};
