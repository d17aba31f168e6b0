#pragma once

#include "library/iteventconnection.h"

#include <QObject>
#include <QString>

#include <functional>

class QFileSystemWatcher;

// Library events from changes of the library file. The file is watched
// together with its folder, because writers replace it rather than rewrite it.
class FileEventConnection : public QObject, public ITEventConnection
{
    Q_OBJECT
public:
    FileEventConnection(const QString &aPath, std::function<void()> aHandler);
    ~FileEventConnection() override;

private:
    void onFileChanged();
    void onFolderChanged();

    QString mPath;
    std::function<void()> mHandler;
    QFileSystemWatcher *mWatcher;
};
