#pragma once

#include <QListWidget>

class Track;
class TrackList;

// Tracks one to a line, in list order, as "artist – album – title" so that two
// tracks of the same name can be told apart.
class TrackListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit TrackListWidget(const TrackList &aTracks, QWidget *aParent = nullptr);

    static QString trackLine(const Track &aTrack);
};
