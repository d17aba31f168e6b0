// Parsing a synthetic 20,000-track library file and reading every playlist of it.
#include "core/tracklist.h"
#include "library/librarysnapshotstore.h"
#include "library/libraryxmlparser.h"
#include "library/localmusiclibrary.h"
#include "library/xmlitunesappfactory.h"
#include "librarygenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

static long statusKb(const char *aKey)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key(aKey);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// The machine is shared: CPU time tells our cost apart from waiting for a core.
static qint64 threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("HOME", QFile::encodeName(dir.path()));
    // An argument names where to write the library file, which is then kept.
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : dir.filePath(QStringLiteral("iTunes Music Library.xml"));

    LibraryGenerator::Options options;
    options.mTracks = 20000;
    options.mPlaylists = 200;
    options.mTracksPerPlaylist = 250;
    options.mPodcasts = 10;
    options.mEpisodesPerPodcast = 20;
    QElapsedTimer timer;
    timer.start();
    if (!LibraryGenerator(options).write(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("generated: %d tracks, %d episodes, %d playlists, %.1f MB in %lld ms\n",
                options.mTracks, options.mPodcasts * options.mEpisodesPerPodcast,
                options.mPlaylists, double(QFileInfo(path).size()) / 1e6, timer.elapsed());

    const long rssBefore = statusKb("VmRSS:");
    std::shared_ptr<const LibrarySnapshot> snapshot;
    timer.restart();
    LibrarySnapshotStore::instance().load(path, snapshot);
    std::printf("first load through the snapshot store: %lld ms, parsed snapshot %ld kB resident\n",
                timer.elapsed(), statusKb("VmRSS:") - rssBefore);

    qint64 best = -1, bestCpu = -1;
    for (int i = 0; i < 3; ++i) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        LibrarySnapshot parsed;
        QString error;
        const qint64 cpuBefore = threadCpuMs();
        timer.restart();
        LibraryXmlParser::parse(file, parsed, error);
        const qint64 elapsed = timer.elapsed();
        const qint64 cpu = threadCpuMs() - cpuBefore;
        best = best < 0 ? elapsed : qMin(best, elapsed);
        bestCpu = bestCpu < 0 ? cpu : qMin(bestCpu, cpu);
    }
    std::printf("parse (streaming reader, best of 3): %lld ms wall, %lld ms CPU\n", best, bestCpu);

    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    const int parsesBefore = LibrarySnapshotStore::instance().parseCount();
    timer.restart();
    library.refreshPlaylists();
    std::printf("refreshPlaylists: %lld ms, %lld playlists\n", timer.elapsed(),
                qint64(library.playlists().size()));

    TrackList tracks, drm;
    qint64 entries = 0;
    const qint64 cpuBefore = threadCpuMs();
    timer.restart();
    for (const QString &name : library.playlists()) {
        LocalPlaylist playlist;
        qint64 size = 0;
        library.getAllTracks(name, tracks, size, false, drm, playlist);
        entries += playlist.mEntries.size();
    }
    const qint64 allPlaylists = timer.elapsed();
    std::printf("getAllTracks over %lld playlists: %lld ms wall, %lld ms CPU, %lld entries, %d "
                "distinct tracks\n",
                qint64(library.playlists().size()), allPlaylists, threadCpuMs() - cpuBefore,
                entries, tracks.count());
    timer.restart();
    LocalPlaylist whole;
    qint64 size = 0;
    TrackList wholeTracks;
    library.getAllTracks(QString(), wholeTracks, size, false, drm, whole);
    std::printf("getAllTracks of the whole library: %lld ms, %d tracks\n", timer.elapsed(),
                wholeTracks.count());
    std::printf("re-parses while reading playlists: %d\n",
                LibrarySnapshotStore::instance().parseCount() - parsesBefore);
    std::printf("peak memory (VmHWM): %ld kB\n", statusKb("VmHWM:"));
    return 0;
}
