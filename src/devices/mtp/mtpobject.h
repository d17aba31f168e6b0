#pragma once

#include <QString>
#include <QtGlobal>

// One object on a phone as a folder listing or a send reports it. Ids are the
// decimal text of the phone's 32-bit handles and last one connection only.
struct MtpObject
{
    static constexpr int TypeFile = 0;
    static constexpr int TypeFolder = 1;
    static constexpr int TypeOther = 2; // audio, images and the like
    static constexpr int TypePlaylist = 3;

    QString mId;
    QString mParentId; // the folder it was listed or sent in; the root is MtpConnection::RootId
    QString mStorageId;
    QString mName; // file name, with extension
    qint64 mSize = 0;
    int mType = TypeFile;

    bool isFolder() const { return mType == TypeFolder; }
};
