#include "phonedataexport.h"

#include "appleextractor.h"
#include "backupresult.h"
#include "blackberryimporter.h"
#include "core/logger.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString codeText(int aCode)
{
    switch (aCode) {
    case BackupResult::CannotOpenDatabase:
        return QStringLiteral("its database is missing or will not open");
    case BackupResult::InvalidDatabase:
        return QStringLiteral("its database is not one this program knows");
    case BackupResult::QueryFailed:
        return QStringLiteral("its database could not be read");
    case BackupResult::CannotOpenOutput:
        return QStringLiteral("the export file could not be written");
    }
    return QStringLiteral("error %1").arg(aCode);
}

QString absent(const AppleExtractor &aExtractor, const QString &aPath)
{
    if (aExtractor.missingFiles().contains(u"HomeDomain/"_qs + aPath))
        return QStringLiteral("the backup lists %1 but lacks its file").arg(aPath);
    return QStringLiteral("the backup has no %1").arg(aPath);
}

} // namespace

PhoneDataExport::Kind PhoneDataExport::kindOf(const QString &aPath)
{
    const QFileInfo info(aPath);
    if (aPath.isEmpty() || !info.exists())
        return Kind::Missing;
    if (info.isFile())
        return Kind::BlackberryFile;
    return BackupUnpacker::isBackupFolder(aPath) ? Kind::ITunesBackup : Kind::Unknown;
}

bool PhoneDataExport::clearWorkFolder(const QString &aFolder)
{
    QDir dir(aFolder);
    return !dir.exists() || dir.removeRecursively();
}

PhoneDataExport::Result PhoneDataExport::run(const QString &aBackupPath, const QString &aWorkFolder,
                                             int aItems)
{
    LogScope scope("PhoneDataExport::run");
    Logger &log = Logger::instance();
    log.value("aBackupPath", aBackupPath);
    Result result;
    result.mKind = kindOf(aBackupPath);
    int failed = 0;
    const auto fail = [&](int aItem, const QString &aText) {
        if (aItems & aItem) {
            failed |= aItem;
            result.mFailures.append(aText);
            log.value("failed", aText);
        }
    };
    // A file left from an earlier run must never pass for this run's export.
    if (!clearWorkFolder(aWorkFolder) || !QDir().mkpath(aWorkFolder) ||
        !QFile::setPermissions(aWorkFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner)) {
        result.mFailures.append(
            QStringLiteral("the working folder %1 cannot be prepared").arg(aWorkFolder));
        return result;
    }
    const QDir work(aWorkFolder);
    const QString messages = work.filePath(u"messages.xml"_qs);
    const QString address = work.filePath(u"address.xml"_qs);

    switch (result.mKind) {
    case Kind::Missing:
        result.mFailures.append(QStringLiteral("there is no backup at %1").arg(aBackupPath));
        return result;
    case Kind::Unknown:
        result.mFailures.append(
            QStringLiteral("%1 is neither an iPhone backup folder (no Info.plist or manifest) "
                           "nor a BlackBerry backup file")
                .arg(aBackupPath));
        return result;
    case Kind::BlackberryFile: {
        const BlackberryImporter::Result imported =
            BlackberryImporter::importBlackberryBackup(aBackupPath, aWorkFolder, result.mCounts);
        if (imported.mStatus == IpdFile::Status::CannotOpen ||
            imported.mStatus == IpdFile::Status::NotIpd) {
            const QString why = imported.mStatus == IpdFile::Status::CannotOpen
                                    ? QStringLiteral("cannot be opened")
                                    : QStringLiteral("is not a BlackBerry backup");
            fail(Messages, QStringLiteral("messages: %1 %2").arg(aBackupPath, why));
            fail(Contacts, QStringLiteral("contacts: %1 %2").arg(aBackupPath, why));
            return result;
        }
        if (imported.mStatus == IpdFile::Status::Damaged)
            log.text("The BlackBerry backup is damaged; the readable records were exported");
        if (imported.mMessagesCode == 0)
            result.mMessagesFile = messages;
        else
            fail(Messages, u"messages: "_qs + codeText(imported.mMessagesCode));
        if (imported.mAddressCode == 0)
            result.mAddressFile = address;
        else
            fail(Contacts, u"contacts: "_qs + codeText(imported.mAddressCode));
        break;
    }
    case Kind::ITunesBackup: {
        AppleExtractor extractor;
        const QString extraction = work.filePath(u"backup"_qs);
        const BackupUnpacker::Status status =
            extractor.extractFromManifest(aBackupPath, extraction, (aItems & Photos) != 0);
        if (status != BackupUnpacker::Status::Ok &&
            status != BackupUnpacker::Status::MissingDataFile) {
            const QString why = BackupUnpacker::describe(status);
            fail(Messages, u"messages: "_qs + why);
            fail(Contacts, u"contacts: "_qs + why);
            fail(Photos, u"photos: "_qs + why);
            return result;
        }
        if (aItems & Messages) {
            const int code = extractor.generateMessagesXML(messages, result.mCounts);
            if (code == 0)
                result.mMessagesFile = messages;
            else
                fail(Messages, extractor.extracted().messagesDatabase.isEmpty()
                                   ? u"messages: "_qs + absent(extractor, u"Library/SMS/sms.db"_qs)
                                   : u"messages: "_qs + codeText(code));
        }
        if (aItems & Contacts) {
            const int code = extractor.generateAddressBookXML(address, result.mCounts);
            if (code == 0)
                result.mAddressFile = address;
            else
                fail(Contacts,
                     extractor.extracted().addressBookDatabase.isEmpty()
                         ? u"contacts: "_qs +
                               absent(extractor, u"Library/AddressBook/AddressBook.sqlitedb"_qs)
                         : u"contacts: "_qs + codeText(code));
        }
        result.mPhotos = extractor.extracted().photos;
        result.mCounts.mPhotos = int(result.mPhotos.size());
        QStringList missingPhotos;
        for (const QString &missing : extractor.missingFiles()) {
            if (missing.startsWith(u"CameraRollDomain/"))
                missingPhotos.append(missing);
        }
        if (!missingPhotos.isEmpty())
            fail(Photos, QStringLiteral("photos: %1 camera-roll files are missing from the "
                                        "backup, e.g. %2")
                             .arg(missingPhotos.size())
                             .arg(missingPhotos.first()));
        break;
    }
    }
    if (!result.mMessagesFile.isEmpty() && (aItems & Messages))
        result.mDone |= Messages;
    if (!result.mAddressFile.isEmpty() && (aItems & Contacts))
        result.mDone |= Contacts;
    if ((aItems & Photos) && !(failed & Photos) && result.mKind == Kind::ITunesBackup)
        result.mDone |= Photos;
    return result;
}
