// Copies a small library (120 tracks of 4 MiB in 10 albums) onto a folder
// posing as a USB phone with UsbMSDevice::UploadTrack, and the same files with
// "cp -r" and with "cp -r" followed by "sync", for comparison. Committed uploads
// are on the medium under their names, so "cp -r; sync" is the fair match.
#include "core/track.h"
#include "devices/usbmsdevice.h"
#include "fakevolumesource.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {
constexpr int Tracks = 120;
constexpr int TracksPerAlbum = 12;
constexpr qint64 TrackSize = 4 << 20;

double runCommand(const QString &aCommand)
{
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), aCommand});
    return timer.nsecsElapsed() / 1e9;
}
} // namespace

int main()
{
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    const QString library = work.filePath(QStringLiteral("library"));
    std::vector<Track> tracks;
    QByteArray data(TrackSize, 'x');
    for (int i = 0; i < Tracks; ++i) {
        const QString album = QStringLiteral("Album %1").arg(i / TracksPerAlbum);
        const QString folder = library + QStringLiteral("/Artist/") + album;
        QDir().mkpath(folder);
        const QString path = folder + QStringLiteral("/%1 Track.mp3").arg(i % TracksPerAlbum);
        data[0] = char(i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return 1;
        tracks.emplace_back(QStringLiteral("Track %1").arg(i), album, QStringLiteral("Artist"),
                            i % TracksPerAlbum + 1, path, true, false, false, QString());
    }
    runCommand(QStringLiteral("sync"));

    const QString root = work.filePath(QStringLiteral("phone"));
    QDir().mkpath(root + QStringLiteral("/VARUZ"));
    auto source = std::make_shared<FakeVolumeSource>();
    source->plug(root);
    UsbMSDevice device(source, root, QStringLiteral("Bench Phone"), true);
    QElapsedTimer timer;
    timer.start();
    device.PrepareForSync();
    int failures = 0;
    for (Track &track : tracks)
        failures += device.UploadTrack(track) != 0;
    QStringList failed;
    failures += device.CommitUploads(failed) != 0 ? int(failed.size()) : 0;
    device.FinalizeSync();
    const double upload = timer.nsecsElapsed() / 1e9;

    const double copy = runCommand(
        QStringLiteral("cp -r '%1' '%2'").arg(library, work.filePath(QStringLiteral("cp1"))));
    const double copySync = runCommand(
        QStringLiteral("cp -r '%1' '%2'; sync").arg(library, work.filePath(QStringLiteral("cp2"))));
    const double mib = double(Tracks) * TrackSize / (1 << 20);
    std::printf("tracks: %d of %lld bytes, %.0f MiB, failures: %d\n", Tracks,
                static_cast<long long>(TrackSize), mib, failures);
    std::printf("UploadTrack:   %.3f s  %.0f MiB/s\n", upload, mib / upload);
    std::printf("cp -r:         %.3f s  %.0f MiB/s\n", copy, mib / copy);
    std::printf("cp -r; sync:   %.3f s  %.0f MiB/s\n", copySync, mib / copySync);
    return failures == 0 ? 0 : 1;
}
