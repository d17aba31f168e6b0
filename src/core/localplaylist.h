#pragma once

#include "core/localplaylistentry.h"

#include <QList>
#include <QString>

// A library playlist as read for a run, its entries in playlist order.
struct LocalPlaylist
{
    QString mName;
    QList<LocalPlaylistEntry> mEntries;
};
