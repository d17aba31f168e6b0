// mobrelay-sync: the synchronisation engine without a window, for scripts,
// headless machines and end-to-end tests. A phone is an attached one (named by
// its id, or the connected one) or a folder standing in for a USB drive.
#include "backup/phonedataexport.h"
#include "backupcommands.h"
#include "core/logger.h"
#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/usbmsdevice.h"
#include "interrupts.h"
#include "library/localmusiclibrary.h"
#include "library/xmlitunesappfactory.h"
#include "librarybusywatch.h"
#include "librarywaiter.h"
#include "phoneconfigurator.h"
#include "phonefinder.h"
#include "phonefolder.h"
#include "settings/syncsettings.h"
#include "sync/runlock.h"
#include "syncclioptions.h"
#include "syncrunner.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void print(FILE *aStream, const QString &aText)
{
    std::fputs(aText.toUtf8().constData(), aStream);
    std::fflush(aStream);
}

void error(const QString &aMessage)
{
    print(stderr, QStringLiteral("mobrelay-sync: ") + aMessage + QLatin1Char('\n'));
}

// The first load moves a damaged settings file aside; later loads find none.
void reportDamagedSettings()
{
    SyncSettings settings;
    if (!QFileInfo::exists(SyncSettings::fileName()) ||
        settings.load() != SyncSettings::SettingsDamaged)
        return;
    const QString copy = settings.damagedCopy();
    error(QStringLiteral("the settings file %1 is damaged (%2); ")
              .arg(SyncSettings::fileName(), settings.damage()) +
          (copy.isEmpty() ? QStringLiteral("it could not be moved aside and is left as it is")
                          : QStringLiteral("it was moved to %1 and a new one is started: "
                                           "configure each phone again, or repair the copy and "
                                           "move it back")
                                .arg(copy)));
}

int readyLibrary(const SyncCliOptions &aOptions, int aWaitSeconds, QString &aPath)
{
    aPath = LibraryWaiter::libraryFile(aOptions.mLibraryFile);
    QString message;
    const int result = LibraryWaiter::waitUntilReadable(aPath, aWaitSeconds, message);
    if (result != 0)
        error(message);
    return result;
}

int listPlaylists(const SyncCliOptions &aOptions)
{
    QString path;
    if (const int result = readyLibrary(aOptions, aOptions.mWaitSeconds, path))
        return result;
    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    QStringList playlists;
    QStringList podcasts;
    bool timedOut = false;
    {
        LibraryBusyWatch watch(library, aOptions.mWaitSeconds, {});
        library.refreshPlaylists();
        playlists = library.playlists();
        library.refreshPodcasts();
        podcasts = library.podcasts();
        timedOut = watch.timedOut();
    }
    if (timedOut) {
        error(QStringLiteral("the library stayed busy for more than %1 seconds")
                  .arg(aOptions.mWaitSeconds));
        return ExitCode::TemporaryFailure;
    }
    QString text;
    for (const QString &name : std::as_const(playlists)) {
        if (!name.isEmpty())
            text += name + QLatin1Char('\n');
    }
    for (const QString &name : std::as_const(podcasts))
        text += QStringLiteral("podcast: ") + name + QLatin1Char('\n');
    print(stdout, text);
    return ExitCode::Success;
}

// Names that the library does not have are most likely typing errors.
void warnAboutUnknownNames(const SyncCliOptions &aOptions)
{
    const QStringList &playlists = aOptions.mPlaylists.mNames;
    const QStringList &podcasts = aOptions.mPodcasts.mNames;
    if (playlists.isEmpty() && podcasts.isEmpty())
        return;
    const QString path = LibraryWaiter::libraryFile(aOptions.mLibraryFile);
    QString message;
    if (LibraryWaiter::waitUntilReadable(path, 0, message) != 0) {
        error(QStringLiteral("names not checked: ") + message);
        return;
    }
    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    LibraryBusyWatch watch(library, 0, {});
    library.refreshPlaylists();
    const QStringList knownPlaylists = library.playlists();
    library.refreshPodcasts();
    const QStringList knownPodcasts = library.podcasts();
    for (const QString &name : playlists) {
        if (!knownPlaylists.contains(name))
            error(QStringLiteral("warning: the library has no playlist named '%1'").arg(name));
    }
    for (const QString &name : podcasts) {
        if (!knownPodcasts.contains(name))
            error(QStringLiteral("warning: the library has no podcast named '%1'").arg(name));
    }
}

int listDevices(const SyncCliOptions &aOptions)
{
    PhoneFinder finder(aOptions);
    finder.find();
    DeviceList &list = finder.list();
    const QList<Device *> devices = list.GetDevices();
    if (devices.isEmpty()) {
        print(stdout, QStringLiteral("none\n"));
        return ExitCode::Success;
    }
    QString text;
    for (Device *device : devices) {
        const QString state = !finder.answers(device)  ? QStringLiteral("not answering")
                              : device->isDisabled()   ? QStringLiteral("no companion app")
                              : device->IsConfigured() ? QStringLiteral("configured")
                                                       : QStringLiteral("not configured");
        text += list.deviceId(device) + QLatin1Char('\t') + PhoneFinder::kind(*device) +
                QLatin1Char('\t') + device->FriendlyName() + QLatin1Char('\t') + state +
                QLatin1Char('\n');
    }
    print(stdout, text);
    return ExitCode::Success;
}

// The phone a command names by id, or the connected one when it names none.
// Returns 0 or the exit status, with the reason said.
int attachedPhone(const SyncCliOptions &aOptions, PhoneFinder &aFinder,
                  std::shared_ptr<Device> &aDevice, QString &aWhere)
{
    aFinder.find();
    DeviceList &list = aFinder.list();
    Device *device =
        aOptions.mPhoneId.isEmpty() ? list.ConnectedDevice() : list.deviceById(aOptions.mPhoneId);
    if (!device) {
        error(aOptions.mPhoneId.isEmpty()
                  ? QStringLiteral("no phone is connected")
                  : QStringLiteral("no attached phone has the id %1 (see \"devices\")")
                        .arg(aOptions.mPhoneId));
        return ExitCode::NoPhone;
    }
    aWhere =
        list.deviceId(device) + QStringLiteral(" (") + device->FriendlyName() + QLatin1Char(')');
    if (!aFinder.answers(device)) {
        error(QStringLiteral("the phone %1 does not answer").arg(aWhere));
        return ExitCode::NoPhone;
    }
    if (device->isDisabled()) {
        error(QStringLiteral("the phone %1 has no companion app (no VARUZ/android.xml on any "
                             "storage): install it on the phone first")
                  .arg(aWhere));
        return ExitCode::NoPhone;
    }
    aDevice = list.sharedDevice(device);
    return 0;
}

int configure(const SyncCliOptions &aOptions)
{
    if (!aOptions.mDataBackup.isEmpty()) {
        const PhoneDataExport::Kind kind = PhoneDataExport::kindOf(aOptions.mDataBackup);
        if (kind == PhoneDataExport::Kind::Missing || kind == PhoneDataExport::Kind::Unknown) {
            error(QStringLiteral("%1 is neither an iPhone backup folder nor a BlackBerry backup "
                                 "file")
                      .arg(aOptions.mDataBackup));
            return ExitCode::NoInput;
        }
    }
    PhoneFolder phone(aOptions.mPhoneFolder);
    std::unique_ptr<PhoneFinder> finder;
    std::shared_ptr<Device> device;
    QString where;
    if (!aOptions.mPhoneId.isEmpty()) {
        finder = std::make_unique<PhoneFinder>(aOptions);
        if (const int status = attachedPhone(aOptions, *finder, device, where))
            return status;
    } else {
        if (!phone.create()) {
            error(QStringLiteral("cannot create the phone folder %1").arg(phone.path()));
            return ExitCode::CannotCreate;
        }
        device = phone.sharedDevice();
        where = phone.path();
    }
    warnAboutUnknownNames(aOptions);
    QString message;
    const int result = PhoneConfigurator::configure(*device, aOptions, message);
    if (result != 0) {
        error(message);
        return result;
    }
    print(stdout, QStringLiteral("configured the phone at %1\n").arg(where) +
                      PhoneConfigurator::describe(device->UniqueDeviceId()));
    return ExitCode::Success;
}

int synchronise(const SyncCliOptions &aOptions)
{
    // Kept for the run: it owns the phone's transport. Looked for before the
    // library, which may keep the command waiting.
    std::unique_ptr<PhoneFinder> finder;
    std::shared_ptr<Device> device;
    if (aOptions.mPhoneFolder.isEmpty()) {
        finder = std::make_unique<PhoneFinder>(aOptions);
        QString where;
        if (const int status = attachedPhone(aOptions, *finder, device, where))
            return status;
        print(stdout, QStringLiteral("phone ") + where + QLatin1Char('\n'));
    }
    QString path;
    if (const int result = readyLibrary(aOptions, aOptions.mWaitSeconds, path))
        return result;
    if (!device) {
        PhoneFolder phone(aOptions.mPhoneFolder, aOptions.mFreeSpace);
        if (!phone.exists()) {
            error(QStringLiteral("there is no phone folder at %1").arg(phone.path()));
            return ExitCode::NoInput;
        }
        device = phone.sharedDevice();
    }
    RunLock lock;
    if (!lock.tryLock()) {
        const qint64 holder = lock.holder();
        error(QStringLiteral("another Mobrelay program%1 is synchronising a phone; try again when "
                             "it has finished")
                  .arg(holder > 0 ? QStringLiteral(" (process %1)").arg(holder) : QString()));
        return ExitCode::Busy;
    }
    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    SyncRunner runner(library, device, aOptions);
    return runner.run();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mobrelay-sync"));
    Interrupts::install();
    Logger::instance().openDefault();
    Logger::instance().text("mobrelay-sync started");

    SyncCliOptions options;
    QString message;
    if (!options.parse(QCoreApplication::arguments().mid(1), message)) {
        error(message);
        print(stderr, SyncCliOptions::usage());
        return ExitCode::Usage;
    }
    if (options.mCommand != SyncCliOptions::Command::Help)
        reportDamagedSettings();
    switch (options.mCommand) {
    case SyncCliOptions::Command::Help:
        print(stdout, SyncCliOptions::usage());
        return ExitCode::Success;
    case SyncCliOptions::Command::Playlists:
        return listPlaylists(options);
    case SyncCliOptions::Command::Configure:
        return configure(options);
    case SyncCliOptions::Command::Sync:
        return synchronise(options);
    case SyncCliOptions::Command::Devices:
        return listDevices(options);
    case SyncCliOptions::Command::Backups:
        return BackupCommands::listBackups(options);
    case SyncCliOptions::Command::Export:
        return BackupCommands::exportBackup(options);
    case SyncCliOptions::Command::None:
        break;
    }
    print(stderr, SyncCliOptions::usage());
    return ExitCode::Usage;
}
