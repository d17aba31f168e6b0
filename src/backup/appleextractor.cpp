#include "appleextractor.h"

#include "addressbookexporter.h"
#include "backupresult.h"
#include "core/logger.h"
#include "messageexporter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
constexpr qint64 MaxFileListSize = 64LL * 1024 * 1024;
}

BackupUnpacker::Status AppleExtractor::extractFromManifest(const QString &aBackupFolder,
                                                           const QString &aExtractionFolder,
                                                           bool aPhotos)
{
    LogScope scope("AppleExtractor::extractFromManifest");
    mExtracted = {};
    mMissing.clear();
    QDir extraction(aExtractionFolder);
    if ((extraction.exists() && !extraction.removeRecursively()) ||
        !QDir().mkpath(aExtractionFolder)) {
        mDetail = aExtractionFolder;
        return BackupUnpacker::Status::CannotWrite;
    }
    BackupUnpacker unpacker;
    const BackupUnpacker::Status status =
        unpacker.unpack(aBackupFolder, aExtractionFolder, aPhotos);
    mDetail = unpacker.detail();
    mMissing = unpacker.missingFiles();
    if (status == BackupUnpacker::Status::Ok || status == BackupUnpacker::Status::MissingDataFile)
        readFileList(aExtractionFolder);
    return status;
}

void AppleExtractor::readFileList(const QString &aExtractionFolder)
{
    LogScope scope("AppleExtractor::readFileList");
    Logger &log = Logger::instance();
    const QString root = QFileInfo(aExtractionFolder).canonicalFilePath();
    QFile file(QDir(aExtractionFolder).filePath(BackupUnpacker::fileListName()));
    if (root.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > MaxFileListSize)
        return;
    const auto line = [&file]() {
        QByteArray text = file.readLine();
        while (text.endsWith('\n') || text.endsWith('\r'))
            text.chop(1);
        return QString::fromUtf8(text);
    };
    while (!file.atEnd()) {
        const QString unpacked = line();
        const QString device = line();
        const QString canonical = QFileInfo(unpacked).canonicalFilePath();
        if (canonical.isEmpty() || !canonical.startsWith(root + u'/')) {
            log.value("Refused file outside the extraction folder", unpacked);
            continue;
        }
        const QStringList parts =
            device.split(QRegularExpression(QStringLiteral("[/\\\\]")), Qt::SkipEmptyParts);
        if (parts.size() > 2 && (parts[0] == u"CameraRollDomainMedia" || parts[0] == u"Media") &&
            parts[1] == u"DCIM") {
            QString destination;
            bool hidden = false;
            for (qsizetype i = 2; i < parts.size(); ++i) {
                hidden = hidden || parts[i].startsWith(u'.');
                destination += u'/' + parts[i];
            }
            if (hidden)
                continue;
            log.value("Adding photo sourceFileName", canonical);
            log.value("Adding photo destPhotoPath", destination);
            mExtracted.photos.append({canonical, destination});
            continue;
        }
        if (parts.size() != 3 || (parts[0] != u"HomeDomainLibrary" && parts[0] != u"Library"))
            continue;
        if (parts[1] == u"AddressBook" && parts[2] == u"AddressBook.sqlitedb")
            mExtracted.addressBookDatabase = canonical;
        else if (parts[1] == u"SMS" && parts[2] == u"sms.db")
            mExtracted.messagesDatabase = canonical;
    }
}

int AppleExtractor::generateMessagesXML(const QString &aOutput, ExportCounts &aCounts) const
{
    if (mExtracted.messagesDatabase.isEmpty())
        return BackupResult::CannotOpenDatabase;
    return MessageExporter::write(mExtracted.messagesDatabase, aOutput, aCounts);
}

int AppleExtractor::generateAddressBookXML(const QString &aOutput, ExportCounts &aCounts) const
{
    if (mExtracted.addressBookDatabase.isEmpty())
        return BackupResult::CannotOpenDatabase;
    return AddressBookExporter::write(mExtracted.addressBookDatabase, aOutput, aCounts);
}
