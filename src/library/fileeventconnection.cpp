#include "library/fileeventconnection.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

FileEventConnection::FileEventConnection(const QString &aPath, std::function<void()> aHandler)
    : mPath(QFileInfo(aPath).absoluteFilePath()), mHandler(std::move(aHandler)),
      mWatcher(new QFileSystemWatcher(this))
{
    const QString folder = QFileInfo(mPath).absolutePath();
    if (QFileInfo::exists(folder))
        mWatcher->addPath(folder);
    if (QFileInfo::exists(mPath))
        mWatcher->addPath(mPath);
    connect(mWatcher, &QFileSystemWatcher::fileChanged, this, &FileEventConnection::onFileChanged);
    connect(mWatcher, &QFileSystemWatcher::directoryChanged, this,
            &FileEventConnection::onFolderChanged);
}

FileEventConnection::~FileEventConnection() = default;

void FileEventConnection::onFileChanged()
{
    // A replaced file drops out of the watch; take the new one on.
    if (!mWatcher->files().contains(mPath) && QFileInfo::exists(mPath))
        mWatcher->addPath(mPath);
    mHandler();
}

void FileEventConnection::onFolderChanged()
{
    if (mWatcher->files().contains(mPath) || !QFileInfo::exists(mPath))
        return;
    mWatcher->addPath(mPath);
    mHandler();
}
