#pragma once

#include "library/cancellablelibraryread.h"

#include <QMutex>
#include <QStringList>
#include <QThread>

#include <memory>

// Reads the podcast names once in the background, with a library object of its
// own, so the user interface can offer them without waiting for the library.
class PodcastRamCache : public QThread
{
    Q_OBJECT
public:
    // A null factory reads the library file.
    explicit PodcastRamCache(std::shared_ptr<ITunesAppFactory> aFactory = nullptr,
                             QObject *aParent = nullptr);
    ~PodcastRamCache() override;

    // The program's instance: the first one made and still alive.
    static PodcastRamCache *instance();

    void getPodcasts(QStringList &aNames) const;
    // Ends a run that waits for a busy library; used when the program closes.
    void cancel();

Q_SIGNALS:
    void updated();

protected:
    void run() override;

private:
    CancellableLibraryRead mRead;
    mutable QMutex mLock;
    QStringList mPodcasts;
};
