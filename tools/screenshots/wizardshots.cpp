#include "wizardshots.h"

#include "devices/devicelist.h"
#include "devices/foldervolumesource.h"
#include "devices/mtprefresher.h"
#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
#include "settings/syncsettings.h"
#include "ui/connectdevicepage.h"
#include "ui/devicebackuppage.h"
#include "ui/devicewizard.h"
#include "ui/intropage.h"
#include "ui/licensepage.h"
#include "ui/playlistsettingspage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QListWidget>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {
void waitFor(const std::function<bool()> &aDone, int aMs = 10000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (aDone())
            loop.quit();
    });
    QTimer::singleShot(aMs, &loop, &QEventLoop::quit);
    poll.start(20);
    if (!aDone())
        loop.exec();
}

bool grab(QWidget &aWidget, const QString &aDir, const QString &aName, QStringList &aWritten)
{
    QApplication::processEvents();
    const QString file = u"wizard-"_qs + aName + u".png"_qs;
    if (!aWidget.grab().save(aDir + u'/' + file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    aWritten.append(file);
    return true;
}
} // namespace

bool renderWizardShots(const QString &aDir, QStringList &aWritten)
{
    // The demo library of the repository where the program looks first, and no
    // settings file, so that the licence page is part of the run.
    const QString itunes = QDir::homePath() + u"/Music/iTunes"_qs;
    QDir().mkpath(itunes);
    QFile::link(QStringLiteral(MOBRELAY_DEMO_LIBRARY), itunes + u"/iTunes Music Library.xml"_qs);
    QFile::remove(SyncSettings::fileName());
    // One iPhone backup for the backup page to offer.
    const QString backup =
        QDir::homePath() + u"/Library/Application Support/MobileSync/Backup/00008030-demo"_qs;
    QDir().mkpath(backup);
    QFile plist(backup + u"/Info.plist"_qs);
    if (plist.open(QIODevice::WriteOnly))
        plist.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                    "<key>Display Name</key><string>Old iPhone</string></dict></plist>\n");
    plist.close();

    QTemporaryDir phoneDir;
    auto volumes =
        std::make_shared<FolderVolumeSource>(phoneDir.path(), QStringLiteral("Demo Phone"));
    DeviceList devices(volumes, nullptr);
    devices.RefreshDevices();
    LocalMusicLibrary library;
    PodcastRamCache podcasts;
    podcasts.start();
    waitFor([&] { return podcasts.isFinished(); });

    bool ok = true;
    DeviceWizard wizard(&library, devices, nullptr, IntroPage::FirstSetup);
    wizard.resize(640, 480);
    wizard.show();
    waitFor([&] { return !wizard.musicPage()->isRefreshing(); });
    ok = grab(wizard, aDir, u"0-intro"_qs, aWritten) && ok;
    wizard.next();
    ok = grab(wizard, aDir, u"1-license"_qs, aWritten) && ok;
    if (auto *license = qobject_cast<LicensePage *>(wizard.currentPage()))
        license->acceptBox()->setChecked(true);
    wizard.next();
    waitFor([&] { return wizard.connectPage()->deviceList()->count() > 0; });
    if (wizard.connectPage()->deviceList()->count() > 0)
        wizard.connectPage()->deviceList()->setCurrentRow(0);
    ok = grab(wizard, aDir, u"2-connect"_qs, aWritten) && ok;
    wizard.next();
    wizard.musicPage()->selectedRadio()->click();
    if (wizard.musicPage()->list()->count() > 0)
        wizard.musicPage()->list()->item(0)->setCheckState(Qt::Checked);
    ok = grab(wizard, aDir, u"4-music"_qs, aWritten) && ok;
    wizard.next();
    wizard.podcastPage()->allRadio()->click();
    wizard.podcastPage()->episodeCombo()->setCurrentIndex(3);
    ok = grab(wizard, aDir, u"5-podcasts"_qs, aWritten) && ok;
    wizard.next();
    if (wizard.backupPage()->backupList()->count() > 0)
        wizard.backupPage()->backupList()->item(0)->setSelected(true);
    wizard.backupPage()->textMessagesBox()->setChecked(true);
    wizard.backupPage()->addressBookBox()->setChecked(true);
    ok = grab(wizard, aDir, u"7-backup"_qs, aWritten) && ok;
    wizard.next();
    ok = grab(wizard, aDir, u"9-conclusion"_qs, aWritten) && ok;
    wizard.reject();
    return ok;
}
