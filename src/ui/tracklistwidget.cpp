#include "ui/tracklistwidget.h"

#include "core/tracklist.h"

TrackListWidget::TrackListWidget(const TrackList &aTracks, QWidget *aParent) : QListWidget(aParent)
{
    // Long names are elided in the middle, where the album usually is, rather than scrolled.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideMiddle);
    setUniformItemSizes(true);
    for (int i = 0; i < aTracks.count(); ++i) {
        auto *item = new QListWidgetItem(trackLine(aTracks.at(i)), this);
        item->setToolTip(aTracks.at(i).mPath);
    }
}

QString TrackListWidget::trackLine(const Track &aTrack)
{
    QStringList parts;
    for (const QString &part : {aTrack.mArtistName, aTrack.mAlbumName, aTrack.mTrackName}) {
        if (!part.trimmed().isEmpty())
            parts.append(part.trimmed());
    }
    return parts.join(QStringLiteral(" \u2013 "));
}
