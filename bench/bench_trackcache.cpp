// Builds a track cache of 50,000 records by appending them one by one, then
// reads it back into a TrackList with the log off and on.
#include "core/logger.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "sync/trackcache.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Records = 50000;
constexpr int Checkpoints[] = {10000, 25000, 50000};
constexpr int ReadRuns = 3;

// Bytes this process has handed to write() so far.
qint64 bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

Track makeTrack(int aIndex)
{
    const QString artist = u"Artist %1"_qs.arg(aIndex / 120);
    const QString album = u"Album %1"_qs.arg(aIndex / 12);
    const QString name = u"Track %1"_qs.arg(aIndex);
    Track track(
        name, album, artist, aIndex % 12 + 1,
        u"/home/user/Music/iTunes/iTunes Media/Music/%1/%2/%3.m4a"_qs.arg(artist, album, name),
        false, true, false, u"/Music/%1/%2/%3.mp3"_qs.arg(artist, album, name));
    track.mSizeOnDevice = 4000000 + aIndex;
    return track;
}

double readOnce(const QString &aPath, int &aCount, int &aResult)
{
    TrackCache cache;
    cache.openFile(aPath);
    TrackList list;
    QElapsedTimer timer;
    timer.start();
    aResult = cache.updateTrackList(list);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    aCount = list.count();
    cache.close();
    return seconds;
}

double bestRead(const QString &aPath, int aRuns, int &aCount, int &aResult)
{
    double best = 1e9;
    for (int run = 0; run < aRuns; ++run)
        best = std::min(best, readOnce(aPath, aCount, aResult));
    return best;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    qputenv("HOME", QFile::encodeName(dir.path()));
    Logger::instance().close();
    const QString path = dir.filePath(QStringLiteral("mcache0"));

    std::vector<Track> tracks;
    tracks.reserve(Records);
    for (int i = 0; i < Records; ++i)
        tracks.push_back(makeTrack(i));

    {
        TrackCache cache;
        cache.openFile(path);
        std::printf("append %d records one by one with TrackCache::addTrack\n", Records);
        std::printf("%8s %10s %14s %12s %18s\n", "records", "total s", "us/append", "file bytes",
                    "written/grown");
        QElapsedTimer timer;
        timer.start();
        qint64 lastNs = 0;
        int done = 0;
        qint64 lastGrown = QFile(path).size() + QFile(path + QLatin1Char('p')).size();
        for (const int checkpoint : Checkpoints) {
            const int interval = checkpoint - done;
            const qint64 written = bytesWritten();
            for (; done < checkpoint; ++done) {
                if (cache.addTrack(tracks[size_t(done)]) != 0) {
                    std::fprintf(stderr, "addTrack failed at %d\n", done);
                    return 1;
                }
            }
            const qint64 ns = timer.nsecsElapsed();
            const qint64 size = QFile(path).size();
            const qint64 grown = size + QFile(path + QLatin1Char('p')).size() - lastGrown;
            lastGrown += grown;
            std::printf("%8d %10.3f %14.1f %12lld %18.3f\n", checkpoint, double(ns) / 1e9,
                        double(ns - lastNs) / 1e3 / interval, size,
                        double(bytesWritten() - written) / double(grown));
            lastNs = ns;
        }
        std::printf("(us/append is per interval; written/grown = bytes passed to write() over\n"
                    " bytes both files grew: a constant ratio near 1 means no rewriting)\n");
        cache.close();
    }

    int count = 0;
    int result = 0;
    const double quiet = bestRead(path, ReadRuns, count, result);
    std::printf("updateTrackList, log off: %d records, result %d, best of %d: %.3f s (goal < "
                "0.3 s)\n",
                count, result, ReadRuns, quiet);

    const QString logPath = dir.filePath(QStringLiteral("log.txt"));
    Logger::instance().openFile(logPath);
    const double logged = readOnce(path, count, result);
    Logger::instance().close();
    std::printf("updateTrackList, log on:  %d records, result %d: %.3f s, %.1fx slower, log "
                "%lld bytes\n",
                count, result, logged, logged / quiet, QFile(logPath).size());
    return 0;
}
