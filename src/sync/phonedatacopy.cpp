#include "sync/phonedatacopy.h"

#include "backup/phonedataexport.h"
#include "core/apppaths.h"
#include "core/logger.h"
#include "devices/device.h"
#include "settings/phoneconfiguration.h"
#include "settings/syncsettings.h"

#include <QDir>
#include <QFileInfo>

PhoneDataCopy::PhoneDataCopy(Device &aDevice, const QString &aDeviceId,
                             std::function<bool()> aCancelled,
                             std::function<void(const QString &)> aProgress)
    : mDevice(aDevice), mDeviceId(aDeviceId), mCancelled(std::move(aCancelled)),
      mProgress(std::move(aProgress))
{}

bool PhoneDataCopy::copyFolder(const QString &aFolder, const QString &aDestination)
{
    bool copied = true;
    const QFileInfoList entries =
        QDir(aFolder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (mCancelled())
            return false;
        const QString target = aDestination + QLatin1Char('/') + entry.fileName();
        if (entry.isDir())
            copied = copyFolder(entry.filePath(), target) && copied;
        else if (mDevice.CopyFileToDevice(entry.filePath(), target, false) != 0)
            copied = false;
    }
    return copied;
}

QStringList PhoneDataCopy::run()
{
    LogScope scope("PhoneDataCopy::run");
    Logger &log = Logger::instance();
    SyncSettings settings;
    PhoneConfiguration wanted;
    if (settings.load() != 0 || !wanted.load(settings, mDeviceId) || wanted.mBackupPath.isEmpty())
        return {};
    int items = (wanted.mCopyTextMessages ? PhoneDataExport::Messages : 0) |
                (wanted.mCopyAddressBook ? PhoneDataExport::Contacts : 0) |
                (wanted.mCopyPhotos ? PhoneDataExport::Photos : 0);
    if (items == 0)
        return {};
    log.value("Copying data from the backup", wanted.mBackupPath);
    mProgress(QStringLiteral("Reading the old phone's backup"));

    const QString work = AppPaths::dataFile(QStringLiteral("extracted"));
    const PhoneDataExport::Kind kind = PhoneDataExport::kindOf(wanted.mBackupPath);
    // A BlackBerry backup holds no photos: they come from the folders chosen beside it.
    int exported = items;
    if (kind == PhoneDataExport::Kind::BlackberryFile)
        exported &= ~PhoneDataExport::Photos;
    PhoneDataExport::Result result = PhoneDataExport::run(wanted.mBackupPath, work, exported);
    QStringList failures = result.mFailures;
    int arrived = 0;

    mProgress(QStringLiteral("Copying the old phone's data"));
    if (kind == PhoneDataExport::Kind::BlackberryFile && (items & PhoneDataExport::Photos)) {
        bool copied = true;
        for (const QString &folder : std::as_const(wanted.mPhotoFolders))
            copied = copyFolder(folder, BlackberryPhotoFolder) && copied;
        if (copied)
            arrived |= PhoneDataExport::Photos;
        else
            failures.append(QStringLiteral("photos: not every photo could be copied to the phone"));
    }
    if (result.mDone & PhoneDataExport::Photos) {
        bool copied = true;
        for (const BackupPhoto &photo : std::as_const(result.mPhotos)) {
            if (mCancelled())
                break;
            log.value("photoPath.mSourceName", photo.mSourceName);
            const QString destination = DcimFolder + photo.mDestPhotoPath;
            log.value("destinationOnDevice", destination);
            copied = mDevice.CopyFileToDevice(photo.mSourceName, destination, false) == 0 && copied;
        }
        if (copied && !mCancelled())
            arrived |= PhoneDataExport::Photos;
        else
            failures.append(QStringLiteral("photos: not every photo could be copied to the phone"));
    }
    const struct
    {
        int mItem;
        QString mFile;
        QString mName;
    } documents[] = {
        {PhoneDataExport::Messages, result.mMessagesFile, QStringLiteral("messages.xml")},
        {PhoneDataExport::Contacts, result.mAddressFile, QStringLiteral("address.xml")},
    };
    for (const auto &document : documents) {
        if (!(result.mDone & document.mItem))
            continue;
        if (mDevice.CopyFileToDevice(
                document.mFile, Device::DataFolder + QLatin1Char('/') + document.mName, true) == 0)
            arrived |= document.mItem;
        else
            failures.append(document.mName + QStringLiteral(": could not be copied to the phone"));
    }
    PhoneDataExport::clearWorkFolder(work);

    // Read again: the settings may have changed while the data was copied.
    SyncSettings latest;
    if (latest.load() == 0) {
        if (arrived & PhoneDataExport::Contacts)
            latest.setCopyAddressBook(mDeviceId, false);
        if (arrived & PhoneDataExport::Photos)
            latest.setCopyPhotos(mDeviceId, false);
        if (arrived & PhoneDataExport::Messages)
            latest.setCopyTextMessages(mDeviceId, false);
        latest.save();
    }
    for (const QString &failure : std::as_const(failures))
        log.value("Not copied from the backup", failure);
    return failures;
}
