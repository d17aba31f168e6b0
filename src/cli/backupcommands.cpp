#include "backupcommands.h"

#include "backup/backupfinder.h"
#include "backup/phonedataexport.h"
#include "syncclioptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void print(FILE *aStream, const QString &aText)
{
    std::fputs(aText.toUtf8().constData(), aStream);
    std::fflush(aStream);
}

bool replace(const QString &aSource, const QString &aTarget)
{
    QFile::remove(aTarget);
    return QFile::copy(aSource, aTarget);
}

} // namespace

int BackupCommands::listBackups(const SyncCliOptions &aOptions)
{
    QString text;
    for (const ITunesBackup &backup : BackupFinder::findiTunesBackups(aOptions.mBackupFolders)) {
        const QString name =
            backup.mBackupName.isEmpty() ? QStringLiteral("(no name)") : backup.mBackupName;
        text += name + u'\t' + backup.mBackupPath + u'\n';
    }
    print(stdout, text);
    return ExitCode::Success;
}

int BackupCommands::exportBackup(const SyncCliOptions &aOptions)
{
    const PhoneDataExport::Kind kind = PhoneDataExport::kindOf(aOptions.mBackupPath);
    if (kind == PhoneDataExport::Kind::Missing || kind == PhoneDataExport::Kind::Unknown) {
        print(stderr, u"mobrelay-sync: "_qs +
                          (kind == PhoneDataExport::Kind::Missing
                               ? QStringLiteral("there is no backup at %1")
                               : QStringLiteral("%1 is neither an iPhone backup folder (no "
                                                "Info.plist or manifest) nor a BlackBerry "
                                                "backup file"))
                              .arg(aOptions.mBackupPath) +
                          u'\n');
        return ExitCode::NoInput;
    }
    const QDir output(aOptions.mOutputFolder);
    if (!QDir().mkpath(output.absolutePath())) {
        print(stderr, QStringLiteral("mobrelay-sync: cannot create %1\n").arg(output.path()));
        return ExitCode::CannotCreate;
    }
    // The unpacked backup is personal data: a private folder, removed afterwards.
    QTemporaryDir work;
    if (!work.isValid()) {
        print(stderr, QStringLiteral("mobrelay-sync: no temporary folder\n"));
        return ExitCode::CannotCreate;
    }
    PhoneDataExport::Result result = PhoneDataExport::run(
        aOptions.mBackupPath, work.filePath(u"export"_qs), PhoneDataExport::Everything);
    QStringList failures = result.mFailures;
    if (!result.mMessagesFile.isEmpty() &&
        !replace(result.mMessagesFile, output.filePath(u"messages.xml"_qs)))
        failures.append(
            QStringLiteral("messages: cannot write %1").arg(output.filePath(u"messages.xml"_qs)));
    if (!result.mAddressFile.isEmpty() &&
        !replace(result.mAddressFile, output.filePath(u"address.xml"_qs)))
        failures.append(
            QStringLiteral("contacts: cannot write %1").arg(output.filePath(u"address.xml"_qs)));
    int photos = 0;
    for (const BackupPhoto &photo : std::as_const(result.mPhotos)) {
        const QString target = output.filePath(u"DCIM"_qs + photo.mDestPhotoPath);
        // A photo already there is kept, as on the phone.
        if (QFileInfo::exists(target) ||
            (QDir().mkpath(QFileInfo(target).path()) && QFile::copy(photo.mSourceName, target)))
            ++photos;
        else
            failures.append(QStringLiteral("photos: cannot write %1").arg(target));
    }
    PhoneDataExport::clearWorkFolder(work.path());
    print(stdout, QStringLiteral("messages: %1 sent, %2 received\npeople: %3\nphotos: %4\n")
                      .arg(result.mCounts.mSent)
                      .arg(result.mCounts.mReceived)
                      .arg(result.mCounts.mPeople)
                      .arg(photos));
    for (const QString &failure : std::as_const(failures))
        print(stderr, u"mobrelay-sync: not exported: "_qs + failure + u'\n');
    return failures.isEmpty() ? ExitCode::Success : ExitCode::Incomplete;
}
