#include "core/track.h"
#include "core/tracklist.h"
#include "devices/devicelist.h"
#include "devices/mtprefresher.h"
#include "devices/usbmsdevice.h"
#include "fakevolumesource.h"
#include "library/xmlitunesappfactory.h"
#include "librarygenerator.h"
#include "settings/phoneconfiguration.h"
#include "settings/syncsettings.h"
#include "sync/musicsync.h"
#include "sync/phonesetup.h"
#include "sync/runlock.h"
#include "sync/syncsession.h"
#include "sync/trackcache.h"
#include "testhome.h"
#include "ui/deletetracksconfirm.h"
#include "ui/syncui.h"
#include "update/vendorsite.h"

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWizard>

#include <functional>

namespace {
constexpr int Tracks = 30;
constexpr int PerPlaylist = 8;

// Answers whatever modal window the main window opens, the way a user would,
// and remembers what it saw.
class DialogAnswerer : public QObject
{
public:
    explicit DialogAnswerer(QObject *aParent = nullptr) : QObject(aParent)
    {
        connect(&mTimer, &QTimer::timeout, this, &DialogAnswerer::poll);
        mTimer.start(20);
    }
    QString mDeleteAnswer = u"Yes"_qs;
    bool mAlways = false;
    // Called instead of answering the delete question.
    std::function<void()> mAtDeleteQuestion;
    // Ticks "do not show again" where a warning has the box.
    bool mTickBoxes = false;
    QStringList mSeen;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == mLast)
            return;
        mLast = modal;
        mSeen.append(QString::fromLatin1(modal->metaObject()->className()));
        if (qobject_cast<DeleteTracksConfirm *>(modal)) {
            if (mAtDeleteQuestion) {
                mAtDeleteQuestion();
                return;
            }
            if (mAlways)
                modal->findChild<QCheckBox *>()->setChecked(true);
            for (QPushButton *button : modal->findChildren<QPushButton *>()) {
                if (button->text() == mDeleteAnswer)
                    button->click();
            }
            return;
        }
        if (auto *wizard = qobject_cast<QWizard *>(modal)) {
            wizard->reject();
            return;
        }
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            mSeen.last() += u": "_qs + box->text();
        else if (auto *tick = modal->findChild<QCheckBox *>(); tick && mTickBoxes)
            tick->setChecked(true);
        const QList<QPushButton *> buttons = modal->findChildren<QPushButton *>();
        if (!buttons.isEmpty())
            buttons.first()->click();
        else
            modal->close();
    }

    QTimer mTimer;
    QPointer<QWidget> mLast;
};

QString enabledButtons(const SyncUi &aWindow)
{
    QStringList names;
    for (const char *name : {"settings", "helpButton", "synchronize"}) {
        if (aWindow.findChild<QPushButton *>(QString::fromLatin1(name))->isEnabled())
            names.append(QString::fromLatin1(name));
    }
    return names.join(QLatin1Char(' '));
}

QString progress(const SyncUi &aWindow)
{
    const auto *bar = aWindow.findChild<QProgressBar *>();
    if (bar->isHidden())
        return u"hidden"_qs;
    if (bar->maximum() == 0)
        return u"busy"_qs;
    return u"%1%"_qs.arg(qMax(bar->value(), 0));
}

QString label(const SyncUi &aWindow, const char *aName)
{
    return aWindow.findChild<QLabel *>(QString::fromLatin1(aName))->text();
}
} // namespace

class TestSyncUi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void stateTable_data();
    void stateTable();
    void wholeRun_data();
    void wholeRun();
    void closeWhileCopying();
    void warningsNameTheRunsPhone();
    void unmountedPhoneKeepsTheWindowFollowing();
    void settingsOpenTheWizard();
    void chooseLibraryFile_data();
    void chooseLibraryFile();

private:
    void configure(bool aAllMusic);
    // aLibraryKnown false: the window looks for the library where a user's would be.
    void openWindow(bool aStartUp, bool aLibraryKnown = true);
    int synchronise();
    int musicFiles() const;

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeVolumeSource> mVolumes;
    QString mLibrary, mPhone, mPhoneId;
    LibraryGenerator mGenerator;
    std::unique_ptr<SyncUi> mWindow;
    std::unique_ptr<DialogAnswerer> mAnswerer;
};

void TestSyncUi::init()
{
    mHome = std::make_unique<TestHome>();
    LibraryGenerator::Options options;
    options.mTracks = Tracks;
    options.mPlaylists = 2;
    options.mTracksPerPlaylist = PerPlaylist;
    options.mPodcasts = 0;
    options.mCreateFiles = true;
    options.mArtwork.clear();
    mGenerator = LibraryGenerator(options);
    mLibrary = mHome->filePath(u"lib/iTunes Music Library.xml"_qs);
    QVERIFY(QDir().mkpath(mHome->filePath(u"lib"_qs)));
    QVERIFY(mGenerator.write(mLibrary));
    mPhone = mHome->filePath(u"phone"_qs);
    QVERIFY(QDir().mkpath(mPhone));
    mVolumes = std::make_shared<FakeVolumeSource>();
    mVolumes->plug(mPhone, u"Test Phone"_qs);
    SyncSettings settings;
    settings.load();
    // No update check leaves the machine.
    settings.setGlobalStringValue(VendorSite::BaseKey, u"http://127.0.0.1:9"_qs);
    QCOMPARE(settings.save(), 0);
    mAnswerer = std::make_unique<DialogAnswerer>();
}

void TestSyncUi::cleanup()
{
    mWindow.reset();
    mAnswerer.reset();
    mHome.reset();
}

void TestSyncUi::configure(bool aAllMusic)
{
    UsbMSDevice device(mVolumes, mPhone, u"Test Phone"_qs, true);
    PhoneConfiguration configuration;
    configuration.mAllMusic = aAllMusic;
    if (!aAllMusic)
        configuration.mPlaylists = {mGenerator.playlistName(0)};
    configuration.mAlbumArt = configuration.mAlbumArtExisting = false;
    QString message;
    QVERIFY2(PhoneSetup::finish(device, configuration, message), qPrintable(message));
    mPhoneId = device.UniqueDeviceId();
}

void TestSyncUi::openWindow(bool aStartUp, bool aLibraryKnown)
{
    mWindow = std::make_unique<SyncUi>(
        mVolumes, nullptr,
        std::make_shared<XmlITunesAppFactory>(aLibraryKnown ? mLibrary : QString()));
    mWindow->setStartupEnabled(aStartUp);
    mWindow->show();
}

int TestSyncUi::synchronise()
{
    QSignalSpy ended(mWindow.get(), &SyncUi::runEnded);
    mWindow->findChild<QPushButton *>(u"synchronize"_qs)->click();
    if (!ended.wait(60000))
        return -1;
    return ended.first().first().toInt();
}

int TestSyncUi::musicFiles() const
{
    int count = 0;
    QDirIterator it(mPhone + u"/Music"_qs, {u"*.mp3"_qs}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

void TestSyncUi::stateTable_data()
{
    QTest::addColumn<bool>("phone");
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("help");
    QTest::addColumn<QString>("buttons");
    QTest::addColumn<QString>("bar");
    const QString all = u"settings helpButton synchronize"_qs;
    const QString connected = u"A phone is connected and is ready to be synchronized"_qs;
    const QString complete = u"Phone synchronization is complete"_qs;
    QTest::newRow("no phone") << false << QList<int>{8, 0} << u"Connect your phone to the PC"_qs
                              << u"If your phone is already connected then click Help"_qs
                              << u"settings helpButton"_qs << u"hidden"_qs;
    QTest::newRow("scanning") << true << QList<int>{8} << u"Scanning iTunes Library"_qs
                              << u"Please Wait"_qs << QString() << u"busy"_qs;
    QTest::newRow("phone") << true << QList<int>{0, 1} << connected << u"Test Phone"_qs << all
                           << u"hidden"_qs;
    QTest::newRow("preparing") << true << QList<int>{1, 9} << u"Preparing to synchronize"_qs
                               << QString() << QString() << u"busy"_qs;
    QTest::newRow("copying") << true << QList<int>{1, 9, 13} << u"Copying tracks to the phone"_qs
                             << QString() << QString() << u"0%"_qs;
    QTest::newRow("playlists") << true << QList<int>{13, 15} << u"Updating playlists"_qs
                               << QString() << QString() << u"busy"_qs;
    QTest::newRow("cancelling") << true << QList<int>{13, 14} << u"Cancelling"_qs
                                << u"Please Wait"_qs << QString() << u"busy"_qs;
    QTest::newRow("finished") << true << QList<int>{13, 2} << complete << QString() << all
                              << u"hidden"_qs;
    QTest::newRow("errors") << true << QList<int>{13, 3} << complete << u"Errors detected"_qs << all
                            << u"hidden"_qs;
    QTest::newRow("cancelled") << true << QList<int>{14, 6}
                               << u"Phone synchronization was cancelled"_qs << QString() << all
                               << u"hidden"_qs;
    // The outcome stays until a second report of the phone.
    QTest::newRow("phone after run")
        << true << QList<int>{0, 1, 9, 2, 1} << complete << QString() << all << u"hidden"_qs;
    QTest::newRow("phone twice after run") << true << QList<int>{0, 1, 9, 2, 1, 1} << connected
                                           << u"Test Phone"_qs << all << u"hidden"_qs;
    // A run that found no configuration gives way to the phone's next report.
    QTest::newRow("phone after no configuration")
        << true << QList<int>{1, 9, 4, 1} << connected << u"Test Phone"_qs << all << u"hidden"_qs;
    QTest::newRow("unknown state")
        << false << QList<int>{8, 0, 16} << u"Connect your phone to the PC"_qs
        << u"If your phone is already connected then click Help"_qs << u"settings helpButton"_qs
        << u"hidden"_qs;
}

void TestSyncUi::stateTable()
{
    QFETCH(bool, phone);
    QFETCH(QList<int>, states);
    if (!phone)
        mVolumes->unplug(mPhone);
    openWindow(false);
    mWindow->deviceList().RefreshDevices();
    for (int state : states)
        mWindow->UpdateProgress(state, 0);
    QTEST(label(*mWindow, "status"), "status");
    QTEST(label(*mWindow, "help"), "help");
    QTEST(enabledButtons(*mWindow), "buttons");
    QTEST(progress(*mWindow), "bar");
}

void TestSyncUi::wholeRun_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<int>("files");
    QTest::newRow("delete") << u"Yes"_qs << 2 << PerPlaylist;
    QTest::newRow("delete, always") << u"Always"_qs << 2 << PerPlaylist;
    QTest::newRow("keep") << u"No"_qs << 6 << Tracks;
    // Closing while the run waits for an answer: no deletion, then the window goes.
    QTest::newRow("close at the question") << u"Close"_qs << 6 << Tracks;
    QTest::newRow("destroy at the question") << u"Destroy"_qs << 6 << Tracks;
}

void TestSyncUi::wholeRun()
{
    QFETCH(QString, answer);
    configure(true);
    openWindow(true);
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 1, 30000);
    QCOMPARE(synchronise(), 2);
    QCOMPARE(musicFiles(), Tracks);
    QVERIFY2(mAnswerer->mSeen.contains(u"UsbEjectWarning"_qs),
             qPrintable(mAnswerer->mSeen.join(u", ")));
    QVERIFY(mWindow->findChild<QPushButton *>(u"synchronize"_qs)->isEnabled());

    configure(false);
    mAnswerer->mDeleteAnswer = answer == u"No" ? u"No"_qs : u"Yes"_qs;
    mAnswerer->mAlways = answer == u"Always";
    if (answer == u"Close")
        mAnswerer->mAtDeleteQuestion = [this] { mWindow->close(); };
    if (answer == u"Destroy")
        mAnswerer->mAtDeleteQuestion = [this] { mWindow.release()->deleteLater(); };
    const QPointer<SyncUi> window = mWindow.get();
    QTEST(synchronise(), "finalState");
    QTEST(musicFiles(), "files");
    SyncSettings settings;
    settings.load();
    QCOMPARE(settings.deleteWithoutWarning(mPhoneId), answer == u"Always");
    if (answer == u"Destroy") {
        QTRY_VERIFY(window.isNull());
    } else {
        QCOMPARE(window->isVisible(), answer != u"Close");
        QVERIFY(window->findChild<QPushButton *>(u"synchronize"_qs)->isEnabled());
    }
    RunLock lock;
    QVERIFY(lock.tryLock());
}

void TestSyncUi::closeWhileCopying()
{
    configure(true);
    openWindow(true);
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 1, 30000);
    QSignalSpy ended(mWindow.get(), &SyncUi::runEnded);
    mWindow->findChild<QPushButton *>(u"synchronize"_qs)->click();
    QTRY_VERIFY(mWindow->session());
    QString shownAtClose;
    // The run waits while the window closes, so it is a third of the way through
    // the copies whatever the machine's speed.
    auto *run = const_cast<MusicSync *>(&mWindow->session()->run());
    connect(
        run, qOverload<int, int, QString>(&MusicSync::ProgressUpdate), this,
        [&](int aState, int aPercent) {
            if (aState != 13 || aPercent < 30 || !shownAtClose.isEmpty())
                return;
            mWindow->close();
            shownAtClose = label(*mWindow, "status") + u'/' + enabledButtons(*mWindow) +
                           (mWindow->isVisible() ? u"/open"_qs : u"/closed"_qs);
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(ended.wait(60000));
    QCOMPARE(shownAtClose, u"Cancelling//open"_qs);
    QCOMPARE(ended.first().first().toInt(), 6);
    QTRY_VERIFY(!mWindow->isVisible());
    const int onPhone = musicFiles();
    QVERIFY2(onPhone < Tracks, qPrintable(QString::number(onPhone)));
    TrackCache cache;
    QCOMPARE(cache.open(mPhoneId), 0);
    TrackList cached;
    QCOMPARE(cache.updateTrackList(cached), 0);
    for (int i = 0; i < cached.count(); ++i) {
        const Track &track = cached.at(i);
        QVERIFY2(!track.mOnRemoteDevice || QFileInfo(mPhone + track.mDeviceId).isFile(),
                 qPrintable(track.mDeviceId));
    }
}

// The list offers another phone by the run's end; the run's warnings are still its phone's.
void TestSyncUi::warningsNameTheRunsPhone()
{
    configure(true);
    const QString other = mHome->filePath(u"other"_qs);
    const QString otherId = u"other-phone"_qs;
    {
        QVERIFY(QDir().mkpath(other + u"/VARUZ"_qs));
        QFile idFile(other + u"/VARUZ/uniqueid"_qs);
        QVERIFY(idFile.open(QIODevice::WriteOnly) && idFile.write(otherId.toUtf8()) > 0);
        idFile.close();
        // Set up last, so the list prefers it.
        UsbMSDevice device(mVolumes, other, u"Other Phone"_qs, true);
        QString message;
        QVERIFY2(PhoneSetup::finish(device, PhoneConfiguration(), message), qPrintable(message));
    }
    QVERIFY(
        QFile::remove(mHome->filePath(u"lib/iTunes Media/"_qs) + mGenerator.trackRelativePath(0)));
    openWindow(true);
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 1, 30000);
    mAnswerer->mTickBoxes = true;
    QSignalSpy ended(mWindow.get(), &SyncUi::runEnded);
    mWindow->findChild<QPushButton *>(u"synchronize"_qs)->click();
    QTRY_VERIFY(mWindow->session());
    bool plugged = false;
    connect(mWindow->session(), &SyncSession::progress, this, [&](int aState) {
        if (aState != 13 || plugged)
            return;
        plugged = true;
        mVolumes->plug(other, u"Other Phone"_qs);
        mWindow->deviceList().RefreshDevices();
    });
    QVERIFY(ended.wait(60000));
    QCOMPARE(mWindow->deviceList().ConnectedDevice()->UniqueDeviceId(), otherId);
    const QString seen = mAnswerer->mSeen.join(u", "_qs);
    QVERIFY2(seen.contains(u"SyncWarningDialog"_qs) && seen.contains(u"UsbEjectWarning"_qs),
             qPrintable(seen));
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    QVERIFY(settings.skipNotCopiedWarning(mPhoneId));
    QVERIFY(settings.skipUsbEjectWarning(mPhoneId));
    QVERIFY(!settings.skipNotCopiedWarning(otherId));
    QVERIFY(!settings.skipUsbEjectWarning(otherId));
}

// The warning is an early end of a start: phones must be followed again after it.
void TestSyncUi::unmountedPhoneKeepsTheWindowFollowing()
{
    configure(true);
    openWindow(true);
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 1, 30000);
    mVolumes->setResponding(mPhone, false);
    mWindow->findChild<QPushButton *>(u"synchronize"_qs)->click();
    QTRY_VERIFY(!mAnswerer->mSeen.isEmpty());
    QVERIFY(mAnswerer->mSeen.first().contains(u"enable the USB connection"_qs));
    mVolumes->unplug(mPhone);
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 0, 10000);
    QCOMPARE(musicFiles(), 0);
}

void TestSyncUi::settingsOpenTheWizard()
{
    configure(true);
    openWindow(true);
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 1, 30000);
    mWindow->findChild<QPushButton *>(u"settings"_qs)->click();
    QTRY_VERIFY(mAnswerer->mSeen.contains(u"DeviceWizard"_qs));
    // Cancelled: the window follows the phones again.
    QTRY_VERIFY(mWindow->findChild<QPushButton *>(u"synchronize"_qs)->isEnabled());
    QCOMPARE(mWindow->state(), 1);
}

void TestSyncUi::chooseLibraryFile_data()
{
    QTest::addColumn<bool>("choose");
    QTest::addColumn<bool>("configured");
    QTest::newRow("file chosen") << true << true;
    // Storing the choice makes the settings file: the first start still sets up.
    QTest::newRow("file chosen at the first start") << true << false;
    QTest::newRow("dialog cancelled") << false << true;
}

void TestSyncUi::chooseLibraryFile()
{
    QFETCH(bool, choose);
    QFETCH(bool, configured);
    if (configured)
        configure(true);
    else
        QVERIFY(QFile::remove(SyncSettings::fileName()));
    openWindow(true, false);
    auto *button = mWindow->findChild<QPushButton *>(u"chooseLibrary"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), 10000);
    mWindow->setLibraryFileChooser([&](QWidget *) { return choose ? mLibrary : QString(); });
    button->click();
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    QCOMPARE(settings.libraryPath(), choose ? mLibrary : QString());
    if (!choose) {
        QVERIFY(button->isVisible());
        QVERIFY(mWindow->state() < 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(mWindow->state(), 1, 30000);
    QVERIFY(button->isHidden());
    QTRY_COMPARE(mAnswerer->mSeen.contains(u"DeviceWizard"_qs), !configured);
}

QTEST_MAIN(TestSyncUi)
#include "tst_syncui.moc"
