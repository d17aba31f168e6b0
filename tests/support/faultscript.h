#pragma once

#include "library/itcallinterceptor.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

// Scripted answers for the in-memory automation layer. A call is named
// "Object.Method" ("CreateApp", "Sources", "Playlist.Name", "Track.Location",
// "FileTrack.DateAdded", "PlaylistCollection.Item", "Artwork.Save", ...); the object
// is a playlist's or track's name, an item's index for collections, or empty.
class FaultScript : public ITCallInterceptor
{
public:
    static constexpr int Always = -1;

    // The next aTimes matching calls answer aCode (an empty object matches any).
    void fail(const QString &aCall, HResult aCode, int aTimes = 1,
              const QString &aObject = QString());
    // The next aTimes matching calls succeed but hand back a null object or string.
    void answerNull(const QString &aCall, int aTimes = 1, const QString &aObject = QString());
    void clear();

    // True when the call is scripted; aResult is then the code to answer and
    // aNull tells whether to succeed with a null value.
    bool take(const char *aCall, const QString &aObject, HResult &aResult, bool &aNull) override;
    int calls(const QString &aCall) const;

private:
    struct Rule
    {
        QString mCall;
        QString mObject;
        HResult mCode = ITResult::Ok;
        bool mNull = false;
        int mRemaining = 0;
    };

    mutable QMutex mLock;
    QList<Rule> mRules;
    QHash<QString, int> mCalls;
};
