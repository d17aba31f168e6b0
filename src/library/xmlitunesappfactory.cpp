#include "library/xmlitunesappfactory.h"

#include "library/fileeventconnection.h"
#include "library/librarysnapshotstore.h"
#include "library/snapshotitunesapp.h"
#include "library/trackartworkreader.h"
#include "settings/syncsettings.h"

#include <QDir>
#include <QFileInfo>

XmlITunesAppFactory::XmlITunesAppFactory(const QString &aLibraryFile) : mLibraryFile(aLibraryFile)
{}

QStringList XmlITunesAppFactory::defaultLibraryFiles()
{
    const QString folder = QDir::homePath() + QStringLiteral("/Music/iTunes/");
    return {folder + QStringLiteral("iTunes Music Library.xml"),
            folder + QStringLiteral("iTunes Library.xml")};
}

QString XmlITunesAppFactory::configuredLibraryFile()
{
    SyncSettings settings;
    if (QFileInfo::exists(SyncSettings::fileName()) && settings.load() == 0) {
        const QString configured = settings.libraryPath();
        if (!configured.isEmpty())
            return configured;
    }
    const QStringList candidates = defaultLibraryFiles();
    for (const QString &candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return candidates.first();
}

QString XmlITunesAppFactory::libraryFile() const
{
    return mLibraryFile.isEmpty() ? configuredLibraryFile() : mLibraryFile;
}

std::unique_ptr<ITEventConnection> XmlITunesAppFactory::watch(std::function<void()> aHandler)
{
    const QString path = libraryFile();
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<FileEventConnection>(path, std::move(aHandler));
}

HResult XmlITunesAppFactory::create(std::shared_ptr<ITunesApp> &aApp)
{
    aApp.reset();
    const QString path = libraryFile();
    auto services = std::make_shared<SnapshotITunesApp::Services>();
    const HResult result = LibrarySnapshotStore::instance().load(path, services->mSnapshot);
    if (ITResult::failed(result))
        return result;
    services->mArtwork = &TrackArtworkReader::read;
    services->mEvents = [path](std::function<void()> aHandler) {
        return std::make_unique<FileEventConnection>(path, std::move(aHandler));
    };
    aApp = std::make_shared<SnapshotITunesApp>(std::move(services));
    return ITResult::Ok;
}
