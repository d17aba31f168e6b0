#pragma once

#include "library/cancellablelibraryread.h"

#include <QStringList>
#include <QThread>

#include <memory>

// Reads the library's playlist names on a thread of its own, with a library
// object of its own, so that a busy library never freezes the window.
class PlaylistNameLoader : public QThread
{
    Q_OBJECT
public:
    explicit PlaylistNameLoader(std::shared_ptr<ITunesAppFactory> aFactory,
                                QObject *aParent = nullptr);
    ~PlaylistNameLoader() override;

    // Ends a read that waits for a busy library; no names are reported then.
    void cancel();

Q_SIGNALS:
    // Only after a complete listing: a partial one would drop the user's choices.
    void loaded(const QStringList &aNames);

protected:
    void run() override;

private:
    CancellableLibraryRead mRead;
};
