#include "backupfinder.h"

#include "backupunpacker.h"
#include "core/logger.h"
#include "propertylist.h"

#include <QDir>

QStringList BackupFinder::defaultFolders()
{
    const QString home = QDir::homePath();
    return {home + u"/Application Data/Apple Computer/MobileSync/Backup"_qs,
            home + u"/AppData/Roaming/Apple Computer/MobileSync/Backup"_qs,
            home + u"/Library/Application Support/MobileSync/Backup"_qs};
}

QList<ITunesBackup> BackupFinder::findiTunesBackups(const QStringList &aExtraFolders)
{
    LogScope scope("BackupFinder::findiTunesBackups");
    Logger &log = Logger::instance();
    QList<ITunesBackup> backups;
    const auto add = [&](const QString &aFolder) {
        ITunesBackup backup;
        backup.mBackupPath = QDir::cleanPath(QDir(aFolder).absolutePath()) + u'/';
        for (const ITunesBackup &known : std::as_const(backups)) {
            if (known.mBackupPath == backup.mBackupPath)
                return;
        }
        backup.mBackupName = getDeviceNameFromInfoPlist(backup.mBackupPath + u"Info.plist"_qs);
        log.value("index", int(backups.size()));
        log.value("backup.mBackupName", backup.mBackupName);
        log.value("backup.mBackupPath", backup.mBackupPath);
        backups.append(backup);
    };
    for (const QString &base : defaultFolders() + aExtraFolders) {
        if (BackupUnpacker::isBackupFolder(base)) {
            add(base);
            continue;
        }
        const QDir dir(base);
        const QStringList folders =
            dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QString &folder : folders) {
            if (BackupUnpacker::isBackupFolder(dir.filePath(folder)))
                add(dir.filePath(folder));
        }
    }
    return backups;
}

QString BackupFinder::getDeviceNameFromInfoPlist(const QString &aPath)
{
    return PropertyList::stringValue(PropertyList::readFile(aPath), u"Display Name"_qs);
}
