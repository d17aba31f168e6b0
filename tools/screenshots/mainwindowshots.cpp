// The main window in each of its states, on a folder posing as the phone.
#include "devices/devicelist.h"
#include "devices/foldervolumesource.h"
#include "devices/mtprefresher.h"
#include "library/xmlitunesappfactory.h"
#include "ui/spacegauge.h"
#include "ui/syncui.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {
constexpr qint64 GB = qint64(1) << 30;

struct Shot
{
    const char *mName;
    std::function<void(SyncUi &)> mSetUp;
};
} // namespace

bool renderMainWindowShots(const QString &aDir, QStringList &aWritten)
{
    QTemporaryDir phone;
    const QString root = phone.filePath(QStringLiteral("Galaxy S24"));
    QDir().mkpath(root);
    auto volumes = std::make_shared<FolderVolumeSource>(root);
    // A folder that does not exist is a phone that is not there.
    auto noPhone =
        std::make_shared<FolderVolumeSource>(phone.filePath(QStringLiteral("unplugged")));
    const auto sequence = [](const QList<int> &aStates) {
        return [aStates](SyncUi &aWindow) {
            for (int state : aStates)
                aWindow.UpdateProgress(state, 0);
        };
    };
    const QList<Shot> shots = {
        {"main-starting", [](SyncUi &) {}},
        {"main-library-not-found", [](SyncUi &aWindow) { aWindow.iTunesFailure(); }},
        {"main-8-scanning", sequence({8})},
        {"main-0-no-phone", sequence({8, 0})},
        {"main-1-phone-connected", sequence({0, 1})},
        {"main-9-preparing", sequence({9})},
        {"main-11-album-art", sequence({9, 11})},
        {"main-12-deleting", sequence({9, 12})},
        {"main-13-copying",
         [](SyncUi &aWindow) {
             aWindow.UpdateProgress(9, 0);
             aWindow.UpdateProgress(13, 40, QStringLiteral("The Kinks - Arthur - Victoria"));
         }},
        {"main-14-cancelling", sequence({13, 14})},
        {"main-15-playlists", sequence({13, 15})},
        {"main-2-complete", sequence({15, 2})},
        {"main-3-errors", sequence({15, 3})},
        {"main-6-cancelled", sequence({14, 6})},
        {"main-4-not-configured", sequence({9, 4})},
        {"main-5-settings-unreadable", sequence({9, 5})},
    };
    bool ok = true;
    for (const Shot &shot : shots) {
        const bool plugged = std::strcmp(shot.mName, "main-0-no-phone") != 0;
        SyncUi window(plugged ? volumes : noPhone, nullptr,
                      std::make_shared<XmlITunesAppFactory>(QStringLiteral(MOBRELAY_DEMO_LIBRARY)));
        window.setStartupEnabled(false);
        window.deviceList().RefreshDevices();
        if (auto *gauge = window.findChild<SpaceGauge *>())
            gauge->setSpace(11 * GB, 5 * GB);
        shot.mSetUp(window);
        window.show();
        QApplication::processEvents();
        const QString file = QString::fromLatin1(shot.mName) + QStringLiteral(".png");
        if (window.grab().save(aDir + QLatin1Char('/') + file)) {
            aWritten.append(file);
        } else {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ok = false;
        }
        window.hide();
    }
    return ok;
}
