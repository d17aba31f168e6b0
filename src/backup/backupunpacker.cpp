#include "backupunpacker.h"

#include "backupdatabase.h"
#include "core/logger.h"
#include "propertylist.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>

namespace {

constexpr qint64 MaxMbdbSize = 512LL * 1024 * 1024;

const QString HomeDomain = QStringLiteral("HomeDomain");
const QString CameraRollDomain = QStringLiteral("CameraRollDomain");
const QString SmsPath = QStringLiteral("Library/SMS/sms.db");
const QString AddressBookPath = QStringLiteral("Library/AddressBook/AddressBook.sqlitedb");
const QString CameraRollPrefix = QStringLiteral("Media/DCIM/");

bool isFileId(const QString &aId)
{
    if (aId.size() != 40)
        return false;
    for (const QChar c : aId) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

bool inside(const QString &aPath, const QString &aFolder)
{
    const QString folder = QFileInfo(aFolder).canonicalFilePath();
    const QString path = QFileInfo(aPath).canonicalFilePath();
    return !folder.isEmpty() && path.startsWith(folder + u'/');
}

// Strings of an mbdb record: a big-endian 16-bit length, 0xFFFF for none.
class MbdbReader
{
public:
    explicit MbdbReader(const QByteArray &aData) : mData(aData) {}
    bool atEnd() const { return mPos >= mData.size(); }
    bool skip(qint64 aBytes)
    {
        if (aBytes > mData.size() - mPos)
            return false;
        mPos += aBytes;
        return true;
    }
    bool byte(quint8 &aValue)
    {
        if (mPos >= mData.size())
            return false;
        aValue = quint8(mData.at(mPos++));
        return true;
    }
    bool number16(quint16 &aValue)
    {
        quint8 high = 0;
        quint8 low = 0;
        if (!byte(high) || !byte(low))
            return false;
        aValue = quint16((high << 8) | low);
        return true;
    }
    bool string(QByteArray &aValue)
    {
        quint16 length = 0;
        if (!number16(length))
            return false;
        aValue.clear();
        if (length == 0xFFFF)
            return true;
        if (length > mData.size() - mPos)
            return false;
        aValue = mData.mid(mPos, length);
        mPos += length;
        return true;
    }

private:
    const QByteArray &mData;
    qint64 mPos = 6;
};

} // namespace

QString BackupUnpacker::describe(Status aStatus)
{
    switch (aStatus) {
    case Status::Ok:
        return QStringLiteral("unpacked");
    case Status::NotABackup:
        return QStringLiteral("not an iPhone backup folder (no Info.plist or manifest)");
    case Status::Encrypted:
        return QStringLiteral("the backup is encrypted; make an unencrypted backup in iTunes "
                              "or Finder and choose that one");
    case Status::TooOld:
        return QStringLiteral("the backup is from iOS 3 or earlier, whose layout cannot be read");
    case Status::NoManifest:
        return QStringLiteral("the backup has no Manifest.db or Manifest.mbdb");
    case Status::ManifestUnreadable:
        return QStringLiteral("the backup's manifest cannot be read");
    case Status::MissingDataFile:
        return QStringLiteral("some files listed in the backup are missing from it");
    case Status::CannotWrite:
        return QStringLiteral("the extraction folder cannot be written");
    }
    return {};
}

bool BackupUnpacker::isBackupFolder(const QString &aPath)
{
    const QDir dir(aPath);
    if (!QFileInfo(aPath).isDir())
        return false;
    for (const char *name : {"Info.plist", "Manifest.db", "Manifest.mbdb", "Manifest.plist"}) {
        if (QFileInfo(dir.filePath(QLatin1String(name))).isFile())
            return true;
    }
    return false;
}

bool BackupUnpacker::wanted(const QString &aDomain, const QString &aRelativePath)
{
    if (aDomain == HomeDomain)
        return aRelativePath == SmsPath || aRelativePath == AddressBookPath;
    return aDomain == CameraRollDomain && aRelativePath.startsWith(CameraRollPrefix);
}

QString BackupUnpacker::safeRelativePath(const QString &aDomain, const QString &aRelativePath)
{
    if (aDomain.isEmpty() || aDomain.contains(u'/') || aDomain.startsWith(u'.') ||
        aRelativePath.startsWith(u'/'))
        return {};
    QStringList parts;
    for (const QString &part : aRelativePath.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"." || part == u"..")
            return {};
        parts.append(part);
    }
    if (parts.isEmpty())
        return {};
    return aDomain + u'/' + parts.join(u'/');
}

QString BackupUnpacker::dataFile(const QString &aBackupFolder, const QString &aFileId) const
{
    // iOS 10 and later keep a file in a folder named by the id's first two digits.
    const QDir backup(aBackupFolder);
    for (const QString &candidate : {QString(aFileId.left(2) + u'/' + aFileId), aFileId}) {
        const QString path = backup.filePath(candidate);
        if (QFileInfo(path).isFile() && inside(path, aBackupFolder))
            return path;
    }
    return {};
}

BackupUnpacker::Status BackupUnpacker::readManifestDb(const QString &aPath, QList<Entry> &aEntries)
{
    BackupDatabase manifest(aPath);
    if (!manifest.open() || !manifest.isValid() || !manifest.hasTable(QStringLiteral("Files"))) {
        mDetail = manifest.error();
        return Status::ManifestUnreadable;
    }
    QSqlQuery query(manifest.database());
    query.setForwardOnly(true);
    // flags 1 is a plain file; folders (2) and links (4) carry no data.
    if (!query.exec(
            QStringLiteral("SELECT fileID, domain, relativePath FROM Files WHERE flags = 1 AND "
                           "((domain = 'HomeDomain' AND relativePath IN ('%1', '%2')) OR "
                           "(domain = 'CameraRollDomain' AND substr(relativePath, 1, %3) = '%4')) "
                           "ORDER BY domain, relativePath")
                .arg(SmsPath, AddressBookPath)
                .arg(CameraRollPrefix.size())
                .arg(CameraRollPrefix))) {
        mDetail = query.lastError().text();
        return Status::ManifestUnreadable;
    }
    while (query.next())
        aEntries.append(
            {query.value(0).toString(), query.value(1).toString(), query.value(2).toString()});
    return Status::Ok;
}

BackupUnpacker::Status BackupUnpacker::readMbdb(const QString &aPath, QList<Entry> &aEntries)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxMbdbSize)
        return Status::ManifestUnreadable;
    const QByteArray data = file.readAll();
    if (!data.startsWith(QByteArrayLiteral("mbdb\x05\x00")))
        return Status::ManifestUnreadable;
    MbdbReader reader(data);
    while (!reader.atEnd()) {
        QByteArray domain;
        QByteArray path;
        QByteArray unused;
        quint16 mode = 0;
        quint8 propertyCount = 0;
        if (!reader.string(domain) || !reader.string(path) || !reader.string(unused) ||
            !reader.string(unused) || !reader.string(unused) || !reader.number16(mode) ||
            !reader.skip(8 + 4 + 4 + 4 + 4 + 4 + 8 + 1) || !reader.byte(propertyCount)) {
            mDetail = QStringLiteral("truncated record");
            return Status::ManifestUnreadable;
        }
        for (int i = 0; i < propertyCount; ++i) {
            if (!reader.string(unused) || !reader.string(unused)) {
                mDetail = QStringLiteral("truncated property");
                return Status::ManifestUnreadable;
            }
        }
        const QString domainText = QString::fromUtf8(domain);
        const QString pathText = QString::fromUtf8(path);
        if ((mode & 0xF000) != 0x8000 || !wanted(domainText, pathText))
            continue;
        // The data file is named by the SHA-1 of "domain-path".
        const QByteArray id =
            QCryptographicHash::hash(QByteArray(domain + '-' + path), QCryptographicHash::Sha1)
                .toHex();
        aEntries.append({QString::fromLatin1(id), domainText, pathText});
    }
    std::sort(aEntries.begin(), aEntries.end(), [](const Entry &aLeft, const Entry &aRight) {
        return std::tie(aLeft.mDomain, aLeft.mRelativePath) <
               std::tie(aRight.mDomain, aRight.mRelativePath);
    });
    return Status::Ok;
}

BackupUnpacker::Status BackupUnpacker::unpack(const QString &aBackupFolder,
                                              const QString &aExtractionFolder, bool aPhotos)
{
    LogScope scope("BackupUnpacker::unpack");
    Logger &log = Logger::instance();
    log.value("aBackupFolder", aBackupFolder);
    mMissing.clear();
    mUnpacked = 0;
    mDetail.clear();
    const auto done = [&](Status aStatus) {
        log.value("status", describe(aStatus));
        if (!mDetail.isEmpty())
            log.value("detail", mDetail);
        return aStatus;
    };
    if (!isBackupFolder(aBackupFolder))
        return done(Status::NotABackup);
    const QDir backup(aBackupFolder);
    const QVariant manifestPlist = PropertyList::readFile(backup.filePath(u"Manifest.plist"_qs));
    if (PropertyList::boolValue(manifestPlist, u"IsEncrypted"_qs))
        return done(Status::Encrypted);

    QList<Entry> entries;
    Status status = Status::Ok;
    const QString manifestDb = backup.filePath(u"Manifest.db"_qs);
    const QString mbdb = backup.filePath(u"Manifest.mbdb"_qs);
    if (QFileInfo(manifestDb).isFile()) {
        QFile file(manifestDb);
        // An encrypted backup's Manifest.db is ciphertext, not SQLite.
        if (file.open(QIODevice::ReadOnly) && file.read(16) != QByteArray("SQLite format 3\0", 16))
            return done(Status::Encrypted);
        status = readManifestDb(manifestDb, entries);
    } else if (QFileInfo(mbdb).isFile()) {
        status = readMbdb(mbdb, entries);
    } else {
        const bool old = !backup.entryList({u"*.mdinfo"_qs}, QDir::Files).isEmpty();
        return done(old ? Status::TooOld : Status::NoManifest);
    }
    if (status != Status::Ok)
        return done(status);

    QDir extraction(aExtractionFolder);
    if (!QDir().mkpath(aExtractionFolder))
        return done(Status::CannotWrite);
    QByteArray list;
    for (const Entry &entry : std::as_const(entries)) {
        if (!aPhotos && entry.mDomain == CameraRollDomain)
            continue;
        const QString relative = safeRelativePath(entry.mDomain, entry.mRelativePath);
        const QString source =
            isFileId(entry.mFileId) ? dataFile(aBackupFolder, entry.mFileId) : QString();
        if (relative.isEmpty() || !isFileId(entry.mFileId)) {
            log.value("Refused manifest row", entry.mFileId + u' ' + entry.mRelativePath);
            continue;
        }
        if (source.isEmpty()) {
            mMissing.append(entry.mDomain + u'/' + entry.mRelativePath);
            continue;
        }
        const QString target = extraction.absoluteFilePath(relative);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(source, target)) {
            mDetail = target;
            return done(Status::CannotWrite);
        }
        // The domain is glued to the path, as the file list has always been read.
        list += target.toUtf8() + '\n' + (entry.mDomain + entry.mRelativePath).toUtf8() + '\n';
        ++mUnpacked;
    }
    QSaveFile listFile(extraction.filePath(fileListName()));
    if (!listFile.open(QIODevice::WriteOnly) || listFile.write(list) != list.size() ||
        !listFile.commit())
        return done(Status::CannotWrite);
    log.value("unpacked", mUnpacked);
    if (!mMissing.isEmpty()) {
        for (const QString &missing : std::as_const(mMissing))
            log.value("missing", missing);
        mDetail = mMissing.size() == 1 ? mMissing.first()
                                       : QStringLiteral("%1 files, among them %2")
                                             .arg(mMissing.size())
                                             .arg(mMissing.first());
        return done(Status::MissingDataFile);
    }
    return done(Status::Ok);
}
