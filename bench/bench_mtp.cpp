// Sync runs over the in-memory MTP phone, in this process:
//   bench_mtp noop [TRACKS]   no-op re-sync of a complete phone of TRACKS tracks
//                             (default 20000) in 200 playlists: folder listings,
//                             track and playlist sends, and the time against the
//                             same run to a folder
//   bench_mtp first [TRACKS]  first sync of TRACKS tracks (default 2000) to a phone
//                             holding one track of every other album: how many
//                             times each folder touched was listed
#include "devices/mtp/devicemtpmac.h"
#include "devices/mtp/deviceparentmtpmac.h"
#include "devices/usbmsdevice.h"
#include "fakemtpphone.h"
#include "fakemtptransport.h"
#include "fakepowerinhibitor.h"
#include "fakevolumesource.h"
#include "library/ituserplaylist.h"
#include "library/localmusiclibrary.h"
#include "scriptedappfactory.h"
#include "settings/syncsettings.h"
#include "sync/musicsync.h"
#include "testhome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Playlists = 200;
constexpr int Repeats = 3;
constexpr int TrackBytes = 2048;

// 10 tracks an album, 10 albums an artist, each track on one of 200 playlists.
bool makeLibrary(const QString &aFolder, int aTracks, LibrarySnapshot &aSnapshot)
{
    const QByteArray data(TrackBytes, 'm');
    QList<QList<int>> playlists(Playlists);
    for (int i = 0; i < aTracks; ++i) {
        LibrarySnapshot::TrackRecord track;
        track.mArtist = QStringLiteral("Artist %1").arg(i / 100);
        track.mAlbum = QStringLiteral("Album %1").arg(i / 10);
        track.mName = QStringLiteral("Track %1").arg(i);
        track.mTrackNumber = i % 10 + 1;
        const QString folder = aFolder + QStringLiteral("/media/") + track.mAlbum;
        if (i % 10 == 0 && !QDir().mkpath(folder))
            return false;
        track.mPath = folder + QStringLiteral("/%1 Track %2.mp3").arg(i % 10 + 1).arg(i);
        track.mSize = TrackBytes;
        QFile file(track.mPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return false;
        aSnapshot.addTrack(track);
        playlists[i % Playlists].append(i);
    }
    for (int p = 0; p < Playlists; ++p)
        aSnapshot.addPlaylist(QStringLiteral("Playlist %1").arg(p), ITUserPlaylist::SpecialKindNone,
                              playlists[p]);
    aSnapshot.addMissingMusicPlaylist();
    return true;
}

bool configure(Device &aDevice)
{
    aDevice.SetConfigured();
    QStringList playlists;
    for (int p = 0; p < Playlists; ++p)
        playlists.append(QStringLiteral("Playlist %1").arg(p));
    SyncSettings settings;
    settings.load();
    const QString id = aDevice.UniqueDeviceId();
    return settings.setConfig(id, false, 0, playlists, {}, id) == 0 && settings.save() == 0;
}

// One run; its seconds, or -1 when it did not finish.
double timedRun(LocalMusicLibrary &aLibrary, Device &aDevice)
{
    MusicSync sync(&aLibrary, &aDevice);
    sync.setPowerInhibitor(std::make_unique<FakePowerInhibitor>());
    QObject::connect(
        &sync, &MusicSync::ConfirmDeleteTracks, &sync, [&sync] { sync.setDeleteConfirmed(true); },
        Qt::DirectConnection);
    QElapsedTimer timer;
    timer.start();
    const int state = sync.runGuarded(false);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    return state == MusicSync::StateFinished ? seconds : -1;
}

double bestOf(LocalMusicLibrary &aLibrary, Device &aDevice)
{
    double best = -1;
    for (int r = 0; r < Repeats; ++r) {
        const double seconds = timedRun(aLibrary, aDevice);
        if (seconds < 0)
            return -1;
        best = best < 0 ? seconds : std::min(best, seconds);
    }
    return best;
}

struct Phone
{
    std::shared_ptr<FakeMtpPhone> mPhone = std::make_shared<FakeMtpPhone>();
    std::shared_ptr<FakeMtpTransport> mTransport = std::make_shared<FakeMtpTransport>();
    std::unique_ptr<DeviceParentMtpMac> mParent;
    std::unique_ptr<DeviceMtpMac> mDevice;

    bool open()
    {
        mPhone->setFreeBytes(quint64(64) << 30);
        mPhone->put(QStringLiteral("/VARUZ/android.xml"), "<app version=\"1\"/>");
        mTransport->addPhone(mPhone);
        mParent = std::make_unique<DeviceParentMtpMac>(mTransport, mPhone->rawDevice());
        if (mParent->open() != 0)
            return false;
        mDevice = std::make_unique<DeviceMtpMac>(*mParent, mPhone->storages().first());
        return configure(*mDevice);
    }
};

int noop(int aTracks)
{
    TestHome home;
    LibrarySnapshot snapshot;
    if (!makeLibrary(home.path(), aTracks, snapshot))
        return 1;
    LocalMusicLibrary library(std::make_shared<ScriptedAppFactory>(snapshot));

    Phone mtp;
    if (!mtp.open() || timedRun(library, *mtp.mDevice) < 0)
        return 1;
    mtp.mPhone->resetCounts();
    const double mtpSeconds = timedRun(library, *mtp.mDevice);
    const int listings = mtp.mPhone->listings();
    const int sends = mtp.mPhone->sends();
    const QStringList listed = mtp.mPhone->listedFolders();
    const double mtpBest = std::min(mtpSeconds, bestOf(library, *mtp.mDevice));

    const QString root = home.filePath(QStringLiteral("phone"));
    QDir().mkpath(root);
    auto source = std::make_shared<FakeVolumeSource>();
    source->plug(root);
    UsbMSDevice folder(source, root, QStringLiteral("Phone"), false);
    if (!configure(folder) || timedRun(library, folder) < 0)
        return 1;
    const double folderBest = std::min(timedRun(library, folder), bestOf(library, folder));
    if (mtpSeconds < 0 || mtpBest < 0 || folderBest <= 0)
        return 1;

    std::printf("no-op re-sync of %d tracks in %d playlists\n", aTracks, Playlists);
    std::printf("  MTP phone: %d folder listings (%s), %d sends (VARUZ files included)\n", listings,
                qPrintable(listed.join(QStringLiteral(", "))), sends);
    std::printf("  time, best of %d: MTP phone %.3f s, folder %.3f s, ratio %.2f\n", Repeats + 1,
                mtpBest, folderBest, mtpBest / folderBest);
    return 0;
}

int first(int aTracks)
{
    TestHome home;
    LibrarySnapshot snapshot;
    if (!makeLibrary(home.path(), aTracks, snapshot))
        return 1;
    LocalMusicLibrary library(std::make_shared<ScriptedAppFactory>(snapshot));
    Phone mtp;
    if (!mtp.open())
        return 1;
    // Every other album is already there in part (copied by hand, say), so
    // folders that exist are listed as well as new ones made.
    for (int i = 0; i < aTracks; i += 20)
        mtp.mPhone->put(QStringLiteral("/Music/Artist %1/Album %2/%3 Track %4.mp3")
                            .arg(i / 100)
                            .arg(i / 10)
                            .arg(i % 10 + 1)
                            .arg(i),
                        QByteArray(TrackBytes, 'm'));
    mtp.mPhone->resetCounts();
    const double seconds = timedRun(library, *mtp.mDevice);
    if (seconds < 0)
        return 1;
    const QStringList listed = mtp.mPhone->listedFolders();
    int most = 0;
    for (const QString &folder : listed)
        most = std::max(most, mtp.mPhone->listings(folder));
    std::printf("first sync of %d tracks: %.3f s, %d sends, %d folders listed, %d listings "
                "(at most %d of one folder)\n",
                aTracks, seconds, mtp.mPhone->sends(), int(listed.size()), mtp.mPhone->listings(),
                most);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1, QStringLiteral("noop"));
    const int tracks = args.size() > 2 ? args.at(2).toInt() : 0;
    if (mode == QLatin1String("noop"))
        return noop(tracks > 0 ? tracks : 20000);
    if (mode == QLatin1String("first"))
        return first(tracks > 0 ? tracks : 2000);
    std::fprintf(stderr, "usage: bench_mtp noop|first [TRACKS]\n");
    return 2;
}
