// End-to-end figures of mobrelay-sync, run as a child process on generated data
// in a temporary folder (or under the folder given with --dir):
//   bench_sync noop [TRACKS...]   no-op re-sync of a complete phone: TRACKS tracks
//                                 (default 20000 and 40000) in 200 playlists,
//                                 all music chosen; wall time and peak memory
//   bench_sync copy [MEGABYTES]   first sync of about MEGABYTES (default 1000) of
//                                 5 MB tracks to a folder on the same disk, against
//                                 cp -r of the same files in the same run
//   bench_sync small [TRACKS]     the same with TRACKS (default 20000) tracks of 2 KB
//   bench_sync convert [TRACKS]   first sync of TRACKS (default 20) AAC tracks with
//                                 conversion to MP3, against converting them one
//                                 after another
// --keep leaves the generated folder in place (for profiling a single run).
#include "sync/mp3converter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

bool keepFiles = false;

constexpr int Playlists = 200;
constexpr int Repeats = 3;
constexpr int AacSeconds = 60;

struct ChildRun
{
    double mSeconds = 0;
    long mPeakKb = 0;
    int mExitCode = -1;
};

// Runs a program with HOME set, output discarded, and measures it alone.
ChildRun runChild(const QStringList &aCommand, const QString &aHome)
{
    std::vector<QByteArray> storage;
    for (const QString &part : aCommand)
        storage.push_back(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &part : storage)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    qputenv("HOME", QFile::encodeName(aHome));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // The last child's errors stay in HOME for a run that failed.
    const QByteArray errors = QFile::encodeName(aHome + QStringLiteral("/stderr.txt"));
    posix_spawn_file_actions_addopen(&actions, 2, errors.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ChildRun run;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage = {};
        wait4(pid, &status, 0, &usage);
        run.mSeconds = double(timer.nsecsElapsed()) / 1e9;
        run.mPeakKb = usage.ru_maxrss;
        run.mExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

void key(QXmlStreamWriter &aXml, const QString &aKey)
{
    aXml.writeTextElement(QStringLiteral("key"), aKey);
}

// An AAC track of aSeconds made by ffmpeg.
bool writeAac(const QString &aPath, int aSeconds, int aIndex)
{
    const ChildRun run = runChild(
        {QStringLiteral("ffmpeg"), QStringLiteral("-v"), QStringLiteral("error"),
         QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("sine=frequency=%1:duration=%2").arg(200 + 20 * aIndex).arg(aSeconds),
         QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"),
         QStringLiteral("128k"), aPath},
        QDir::homePath());
    return run.mExitCode == 0;
}

// Tracks of aBytes random bytes each with .mp3 names (or, with aBytes 0,
// AAC tracks of AacSeconds), and the library file listing them: 10 tracks an
// album, 10 albums an artist, each track on one of 200 playlists and every
// seventh on a second one.
bool writeLibrary(const QString &aFolder, int aTracks, qint64 aBytes)
{
    QRandomGenerator random(42);
    QByteArray data(aBytes, '\0');
    std::vector<QString> paths;
    for (int i = 0; i < aTracks; ++i) {
        const QString folder =
            QStringLiteral("%1/media/Artist %2/Album %3").arg(aFolder).arg(i / 100).arg(i / 10);
        if (i % 10 == 0)
            QDir().mkpath(folder);
        const QString path = QStringLiteral("%1/%2 Track %3.%4")
                                 .arg(folder)
                                 .arg(i % 10 + 1)
                                 .arg(i)
                                 .arg(aBytes == 0 ? QStringLiteral("m4a") : QStringLiteral("mp3"));
        paths.push_back(path);
        if (aBytes == 0) {
            if (!writeAac(path, AacSeconds, i))
                return false;
            continue;
        }
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return false;
    }
    QFile file(aFolder + QStringLiteral("/library.xml"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QXmlStreamWriter xml(&file);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeStartElement(QStringLiteral("dict"));
    key(xml, QStringLiteral("Tracks"));
    xml.writeStartElement(QStringLiteral("dict"));
    for (int i = 0; i < aTracks; ++i) {
        key(xml, QString::number(i + 1));
        xml.writeStartElement(QStringLiteral("dict"));
        const auto field = [&](const char *aKey, const char *aType, const QString &aValue) {
            key(xml, QLatin1String(aKey));
            xml.writeTextElement(QLatin1String(aType), aValue);
        };
        field("Track ID", "integer", QString::number(i + 1));
        field("Name", "string", QStringLiteral("Track %1").arg(i));
        field("Artist", "string", QStringLiteral("Artist %1").arg(i / 100));
        field("Album", "string", QStringLiteral("Album %1").arg(i / 10));
        field("Track Number", "integer", QString::number(i % 10 + 1));
        field("Size", "integer", QString::number(aBytes));
        field("Date Added", "date", QStringLiteral("2024-01-01T00:00:00Z"));
        field("Location", "string",
              QString::fromLatin1(QUrl::fromLocalFile(paths[size_t(i)]).toEncoded()));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    key(xml, QStringLiteral("Playlists"));
    xml.writeStartElement(QStringLiteral("array"));
    for (int p = 0; p < Playlists; ++p) {
        xml.writeStartElement(QStringLiteral("dict"));
        key(xml, QStringLiteral("Name"));
        xml.writeTextElement(QStringLiteral("string"), QStringLiteral("Playlist %1").arg(p));
        key(xml, QStringLiteral("Playlist Items"));
        xml.writeStartElement(QStringLiteral("array"));
        for (int i = 0; i < aTracks; ++i) {
            if (i % Playlists != p && !(i % 7 == 0 && (i / 7) % Playlists == p))
                continue;
            xml.writeStartElement(QStringLiteral("dict"));
            key(xml, QStringLiteral("Track ID"));
            xml.writeTextElement(QStringLiteral("integer"), QString::number(i + 1));
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return !xml.hasError();
}

QString program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/mobrelay-sync");
}

QStringList syncCommand(const QString &aFolder)
{
    return {program(),
            QStringLiteral("--library"),
            aFolder + QStringLiteral("/library.xml"),
            QStringLiteral("sync"),
            aFolder + QStringLiteral("/phone"),
            QStringLiteral("--yes")};
}

bool configure(const QString &aFolder, bool aConvert = false)
{
    return runChild({program(), QStringLiteral("configure"), aFolder + QStringLiteral("/phone"),
                     QStringLiteral("--album-art"), QStringLiteral("off"),
                     QStringLiteral("--convert-to-mp3"),
                     aConvert ? QStringLiteral("on") : QStringLiteral("off")},
                    aFolder)
               .mExitCode == 0;
}

// First sync of AAC tracks with conversion on, against converting them one after another.
int convert(const QString &aBase, int aTracks)
{
    const QString folder = aBase + QStringLiteral("/convert");
    QDir().mkpath(folder);
    if (!writeLibrary(folder, aTracks, 0) || !configure(folder, true)) {
        std::printf("setup failed\n");
        return 1;
    }
    std::printf("%d AAC tracks of %d s\n", aTracks, AacSeconds);
    QStringList files;
    for (int i = 0; i < aTracks; ++i)
        files.append(QStringLiteral("%1/media/Artist %2/Album %3/%4 Track %5.m4a")
                         .arg(folder)
                         .arg(i / 100)
                         .arg(i / 10)
                         .arg(i % 10 + 1)
                         .arg(i));
    double bestOneByOne = 1e9, bestSync = 1e9;
    for (int r = 0; r < Repeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (const QString &file : std::as_const(files)) {
            Mp3Converter converter;
            if (!converter.convert(file, folder + QStringLiteral("/one.mp3"), 0))
                std::printf("  conversion failed: %s\n", qPrintable(converter.lastError()));
        }
        bestOneByOne = std::min(bestOneByOne, double(timer.nsecsElapsed()) / 1e9);

        QDir(folder + QStringLiteral("/phone/Music")).removeRecursively();
        QFile::remove(folder + QStringLiteral("/VARUZ/mcache0"));
        QFile::remove(folder + QStringLiteral("/VARUZ/mcache0p"));
        const ChildRun run = runChild(syncCommand(folder), folder);
        if (run.mExitCode != 0)
            std::printf("  sync exit %d\n", run.mExitCode);
        bestSync = std::min(bestSync, run.mSeconds);
    }
    std::printf("  one after another: %.2f s\n", bestOneByOne);
    std::printf("  mobrelay-sync:     %.2f s\n", bestSync);
    std::printf("  ratio %.2f\n", bestSync / bestOneByOne);
    QDir(folder).removeRecursively();
    return 0;
}

double noop(const QString &aBase, int aTracks)
{
    const QString folder = aBase + QStringLiteral("/noop-%1").arg(aTracks);
    QDir().mkpath(folder);
    QElapsedTimer setup;
    setup.start();
    if (!writeLibrary(folder, aTracks, 2048) || !configure(folder)) {
        std::printf("setup failed\n");
        return -1;
    }
    const ChildRun first = runChild(syncCommand(folder), folder);
    std::printf("%d tracks: setup %.1f s (first sync %.1f s, exit %d)\n", aTracks,
                double(setup.elapsed()) / 1000, first.mSeconds, first.mExitCode);
    std::vector<double> times;
    long peak = 0;
    for (int r = 0; r < Repeats; ++r) {
        const ChildRun run = runChild(syncCommand(folder), folder);
        if (run.mExitCode != 0)
            std::printf("  no-op run exit %d\n", run.mExitCode);
        times.push_back(run.mSeconds);
        peak = std::max(peak, run.mPeakKb);
    }
    std::sort(times.begin(), times.end());
    std::printf("  no-op re-sync: best %.3f s, median %.3f s, peak memory %.1f MB\n", times.front(),
                times[times.size() / 2], double(peak) / 1024);
    QDir(folder).removeRecursively();
    return times[times.size() / 2];
}

// Moves a finished copy out of the way instead of deleting it: blocks freed just
// before a run are slow to allocate again, and both sides of a comparison must
// meet the same file system.
void moveAside(const QString &aPath, const QString &aFolder)
{
    static int serial = 0;
    if (QFileInfo::exists(aPath))
        QDir().rename(aPath, aFolder + QStringLiteral("/aside-%1").arg(++serial));
}

int copy(const QString &aBase, int aTracks, qint64 aTrackBytes)
{
    const QString folder = aBase + QStringLiteral("/copy");
    QDir().mkpath(folder);
    if (!writeLibrary(folder, aTracks, aTrackBytes) || !configure(folder)) {
        std::printf("setup failed\n");
        return 1;
    }
    const double megabytes = double(aTracks) * double(aTrackBytes) / (1 << 20);
    std::printf("%d tracks of %lld bytes, %.0f MB, same file system\n", aTracks,
                static_cast<long long>(aTrackBytes), megabytes);
    double bestCp = 1e9, bestCpSync = 1e9, bestSync = 1e9;
    const QString phone = folder + QStringLiteral("/phone");
    for (int r = 0; r < Repeats; ++r) {
        const QString target = folder + QStringLiteral("/cp-target");
        runChild({QStringLiteral("sync")}, aBase);
        bestCp = std::min(bestCp, runChild({QStringLiteral("cp"), QStringLiteral("-r"),
                                            folder + QStringLiteral("/media"), target},
                                           aBase)
                                      .mSeconds);
        moveAside(target, folder);
        runChild({QStringLiteral("sync")}, aBase);
        QElapsedTimer timer;
        timer.start();
        runChild(
            {QStringLiteral("cp"), QStringLiteral("-r"), folder + QStringLiteral("/media"), target},
            aBase);
        runChild({QStringLiteral("sync")}, aBase);
        bestCpSync = std::min(bestCpSync, double(timer.nsecsElapsed()) / 1e9);
        moveAside(target, folder);

        // A fresh phone and cache each time: a first synchronisation.
        moveAside(phone + QStringLiteral("/Music"), folder);
        QFile::remove(folder + QStringLiteral("/VARUZ/mcache0"));
        QFile::remove(folder + QStringLiteral("/VARUZ/mcache0p"));
        runChild({QStringLiteral("sync")}, aBase);
        const ChildRun run = runChild(syncCommand(folder), folder);
        if (run.mExitCode != 0) {
            QFile errors(folder + QStringLiteral("/stderr.txt"));
            errors.open(QIODevice::ReadOnly);
            std::printf("  sync exit %d: %s\n", run.mExitCode,
                        errors.readAll().trimmed().constData());
            continue;
        }
        bestSync = std::min(bestSync, run.mSeconds);
    }
    std::printf("  cp -r:              %.2f s  %.0f MB/s\n", bestCp, megabytes / bestCp);
    std::printf("  cp -r then sync(1): %.2f s  %.0f MB/s\n", bestCpSync, megabytes / bestCpSync);
    std::printf("  mobrelay-sync:      %.2f s  %.0f MB/s\n", bestSync, megabytes / bestSync);
    std::printf("  ratio to cp -r %.2f, to cp -r + sync %.2f\n", bestCp / bestSync,
                bestCpSync / bestSync);
    if (keepFiles)
        std::printf("  kept in %s\n", qPrintable(folder));
    else
        QDir(folder).removeRecursively();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString base;
    const qsizetype dirAt = args.indexOf(QStringLiteral("--dir"));
    if (dirAt >= 0 && dirAt + 1 < args.size()) {
        base = args.at(dirAt + 1);
        args.remove(dirAt, 2);
    }
    QTemporaryDir temporary(base.isEmpty() ? QDir::tempPath() + QStringLiteral("/bench_sync-XXXXXX")
                                           : base + QStringLiteral("/bench_sync-XXXXXX"));
    if (!temporary.isValid() || !QFile::exists(program())) {
        std::printf("needs a temporary folder and %s\n", qPrintable(program()));
        return 1;
    }
    keepFiles = args.removeAll(QStringLiteral("--keep")) > 0;
    temporary.setAutoRemove(!keepFiles);
    const QString mode = args.value(0, QStringLiteral("noop"));
    if (mode == QLatin1String("copy")) {
        constexpr qint64 TrackBytes = 5 << 20;
        const qint64 megabytes = args.value(1, QStringLiteral("1000")).toLongLong();
        return copy(temporary.path(), int(megabytes * (1 << 20) / TrackBytes), TrackBytes);
    }
    if (mode == QLatin1String("convert"))
        return convert(temporary.path(), args.value(1, QStringLiteral("20")).toInt());
    if (mode == QLatin1String("small"))
        return copy(temporary.path(), args.value(1, QStringLiteral("20000")).toInt(), 2048);
    QList<int> sizes;
    for (int i = 1; i < args.size(); ++i)
        sizes.append(args.at(i).toInt());
    if (sizes.isEmpty())
        sizes = {20000, 40000};
    std::vector<double> medians;
    for (int size : sizes)
        medians.push_back(noop(temporary.path(), size));
    if (medians.size() == 2 && medians[0] > 0)
        std::printf("ratio %d/%d tracks: %.2f\n", sizes[1], sizes[0], medians[1] / medians[0]);
    return 0;
}
