// Renders every dialog and the space gauge's states to PNG files, so that the
// interface can be reviewed without a display:
//   mobrelay-screenshots DIR           writes DIR/*.png and DIR/pictures.txt
//   mobrelay-screenshots --check DIR   fails unless every listed picture exists
//                                      and is more than a flat colour

#include "core/tracklist.h"
#include "ui/deletetracksconfirm.h"
#include "ui/spacegauge.h"
#include "ui/syncwarningdialog.h"
#include "ui/updatedialog.h"
#include "ui/usbejectwarning.h"
#include "wizardshots.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

bool renderMainWindowShots(const QString &aDir, QStringList &aWritten);

namespace {
constexpr qint64 GB = qint64(1) << 30;
const QString ListName = QStringLiteral("pictures.txt");

TrackList sampleTracks()
{
    TrackList tracks;
    const auto add = [&tracks](const char *aArtist, const char *aAlbum, const char *aTitle) {
        tracks.append(Track(QString::fromUtf8(aTitle), QString::fromUtf8(aAlbum),
                            QString::fromUtf8(aArtist), 1, QStringLiteral("/music/track.m4a"), true,
                            true, true, QStringLiteral("Music/track.m4a")));
    };
    add("The Kinks", "Arthur", "Victoria");
    add("The Kinks", "Kinks Greatest Hits", "Victoria");
    add("Sigur R\xc3\xb3s", "( )", "Untitled #1");
    add("Ennio Morricone", "The Good, the Bad and the Ugly (Original Motion Picture Soundtrack)",
        "The Ecstasy of Gold");
    add("<b>Not bold</b>", "Escaped & shown", "As written");
    return tracks;
}

// The gauge in a window of its own width, as the main window shows it.
QWidget *gaugeWindow(bool aWide, qint64 aUsed, qint64 aFree, bool aColoured)
{
    auto *window = new QWidget;
    auto *layout = new QVBoxLayout(window);
    auto *gauge = new SpaceGauge(aWide, window);
    gauge->setSpace(aUsed, aFree);
    if (!aColoured)
        gauge->disable();
    layout->addWidget(gauge);
    window->setFixedWidth(aWide ? 440 : 300);
    return window;
}

bool save(QWidget *aWidget, const QString &aDir, const QString &aName, QStringList &aWritten)
{
    aWidget->show();
    QApplication::processEvents();
    const QString file = aName + QStringLiteral(".png");
    const bool ok = aWidget->grab().save(aDir + QLatin1Char('/') + file);
    if (ok)
        aWritten.append(file);
    else
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    aWidget->close();
    delete aWidget;
    return ok;
}

int render(const QString &aDir)
{
    if (!QDir().mkpath(aDir))
        return 1;
    const TrackList tracks = sampleTracks();
    const QString notice = QStringLiteral(
        "Mobrelay 1.3 copies playlists in their iTunes order and is faster on MTP phones.\n"
        "Download it from https://mobrelay.net/download.");
    const QList<std::pair<QString, std::function<QWidget *()>>> pictures = {
        {QStringLiteral("gauge-used-three-quarters"),
         [] { return gaugeWindow(false, 3 * GB, GB, true); }},
        {QStringLiteral("gauge-wizard-half"),
         [] { return gaugeWindow(true, 8 * GB, 8 * GB, true); }},
        {QStringLiteral("gauge-full"), [] { return gaugeWindow(false, 16 * GB, 0, true); }},
        {QStringLiteral("gauge-empty"), [] { return gaugeWindow(false, 0, 16 * GB, true); }},
        {QStringLiteral("gauge-unknown"), [] { return gaugeWindow(false, 0, 0, true); }},
        {QStringLiteral("gauge-switched-off"),
         [] { return gaugeWindow(false, 3 * GB, GB, false); }},
        {QStringLiteral("delete-tracks-confirm"),
         [&tracks] { return new DeleteTracksConfirm(tracks); }},
        {QStringLiteral("sync-warning-folder-failed"),
         [&tracks] {
             return new SyncWarningDialog(nullptr, tracks, SyncWarningDialog::FolderFailed);
         }},
        {QStringLiteral("sync-warning-copy-failed"),
         [&tracks] {
             return new SyncWarningDialog(nullptr, tracks, SyncWarningDialog::CopyFailed);
         }},
        {QStringLiteral("sync-warning-copy-protected"),
         [&tracks] {
             return new SyncWarningDialog(nullptr, tracks, SyncWarningDialog::CopyProtected);
         }},
        {QStringLiteral("update-dialog"),
         [&notice] { return new UpdateDialog(nullptr, QStringLiteral("Mobrelay 1.3"), notice); }},
        {QStringLiteral("usb-eject-warning"), [] { return new UsbEjectWarning; }},
    };
    QStringList written;
    bool ok = true;
    for (const auto &[name, make] : pictures)
        ok = save(make(), aDir, name, written) && ok;
    ok = renderWizardShots(aDir, written) && ok;
    ok = renderMainWindowShots(aDir, written) && ok;
    QFile list(aDir + QLatin1Char('/') + ListName);
    if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return 1;
    QTextStream(&list) << written.join(QLatin1Char('\n')) << '\n';
    std::printf("%lld pictures in %s\n", static_cast<long long>(written.size()),
                qPrintable(QDir(aDir).absolutePath()));
    return ok ? 0 : 1;
}

int check(const QString &aDir)
{
    QFile list(aDir + QLatin1Char('/') + ListName);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "no %s in %s\n", qPrintable(ListName), qPrintable(aDir));
        return 1;
    }
    const QStringList names =
        QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    int bad = names.isEmpty() ? 1 : 0;
    for (const QString &name : names) {
        const QImage image(aDir + QLatin1Char('/') + name);
        QSet<QRgb> colours;
        for (int y = 0; y < image.height() && colours.size() < 3; y += 2) {
            for (int x = 0; x < image.width() && colours.size() < 3; x += 2)
                colours.insert(image.pixel(x, y));
        }
        if (image.isNull() || colours.size() < 3) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(name),
                         image.isNull() ? "missing or unreadable" : "blank");
            ++bad;
        }
    }
    std::printf("%lld pictures checked, %d bad\n", static_cast<long long>(names.size()), bad);
    return bad == 0 ? 0 : 1;
}
} // namespace

int main(int argc, char *argv[])
{
    // The vendor site is read from the settings: keep the pictures independent
    // of the user's own settings, and never create any in the real home.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Mobrelay"));
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() == 2 && arguments.first() == QLatin1String("--check"))
        return check(arguments.last());
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: mobrelay-screenshots [--check] DIR\n");
        return 2;
    }
    return render(arguments.first());
}
