// 100,000 TrackList::addTrack calls: 50,000 new records as read from a cache,
// then the same 50,000 tracks from the library, each a merge. A merge stats
// the stored record's path, so the run is timed with paths that exist and
// with paths that do not.
#include "core/logger.h"
#include "core/track.h"
#include "core/tracklist.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int UniqueTracks = 50000;
constexpr int ExistingFiles = 5000;
constexpr int Runs = 5;

std::vector<Track> makeTracks(const QString &aFolder, bool aOnPhone, bool aOnSyncPlaylist)
{
    std::vector<Track> tracks;
    tracks.reserve(UniqueTracks);
    for (int i = 0; i < UniqueTracks; ++i) {
        const QString path = u"%1/f%2/%3.mp3"_qs.arg(aFolder).arg(i % 50).arg(i % ExistingFiles);
        Track track(u"Track %1"_qs.arg(i), u"Album %1"_qs.arg(i / 12), u"Artist %1"_qs.arg(i / 120),
                    i % 12 + 1, path, aOnSyncPlaylist, aOnPhone, aOnPhone,
                    aOnPhone ? u"/Music/%1.mp3"_qs.arg(i) : QString());
        track.mSizeOnDevice = 4000000 + i;
        track.mLocalFileSize = 4000000 + i;
        tracks.push_back(track);
    }
    return tracks;
}

struct Timing
{
    double newRecords = 0;
    double merges = 0;
    double total() const { return newRecords + merges; }
};

Timing timeRun(const std::vector<Track> &aPhone, const std::vector<Track> &aLibrary, int &aCount)
{
    TrackList list;
    Timing timing;
    QElapsedTimer timer;
    timer.start();
    for (const Track &track : aPhone)
        list.addTrack(track);
    timing.newRecords = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    for (const Track &track : aLibrary)
        list.addTrack(track);
    timing.merges = double(timer.nsecsElapsed()) / 1e9;
    aCount = list.count();
    return timing;
}

// The part of a merge that is one file-system call per record.
double timeExists(const std::vector<Track> &aTracks, int &aFound)
{
    QElapsedTimer timer;
    timer.start();
    aFound = 0;
    for (const Track &track : aTracks)
        aFound += QFileInfo::exists(track.mPath) ? 1 : 0;
    return double(timer.nsecsElapsed()) / 1e9;
}

void report(const char *aLabel, const std::vector<Track> &aPhone,
            const std::vector<Track> &aLibrary)
{
    std::vector<Timing> timings;
    int count = 0;
    for (int run = 0; run < Runs; ++run)
        timings.push_back(timeRun(aPhone, aLibrary, count));
    std::sort(timings.begin(), timings.end(),
              [](const Timing &a, const Timing &b) { return a.total() < b.total(); });
    const Timing &best = timings.front();
    std::printf("%-30s %d calls, %d records: best %.3f s (new %.3f + merges %.3f), median %.3f s "
                "(goal < 0.2 s)\n",
                aLabel, int(aPhone.size() + aLibrary.size()), count, best.total(), best.newRecords,
                best.merges, timings[Runs / 2].total());
    int found = 0;
    const double exists = timeExists(aPhone, found);
    std::printf("%-30s %d QFileInfo::exists on the stored paths alone (%d found): %.3f s\n", "",
                int(aPhone.size()), found, exists);
}

} // namespace

int main()
{
    Logger::instance().close();
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString existing = dir.filePath(QStringLiteral("existing"));
    for (int i = 0; i < ExistingFiles; ++i) {
        const QString folder = u"%1/f%2"_qs.arg(existing).arg(i % 50);
        QDir().mkpath(folder);
        QFile file(u"%1/%2.mp3"_qs.arg(folder).arg(i));
        file.open(QIODevice::WriteOnly);
    }
    const QString missing = dir.filePath(QStringLiteral("missing"));

    const std::vector<Track> library = makeTracks(existing, false, true);
    report("merges, stored paths exist:", makeTracks(existing, true, false), library);
    report("merges, stored paths missing:", makeTracks(missing, true, false), library);
    return 0;
}
