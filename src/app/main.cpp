// mobrelay: the window program. One per user; a second start brings the
// first window to the front.
#include "core/exceptionreporter.h"
#include "core/logger.h"
#include "devices/foldervolumesource.h"
#include "devices/mtp/libmtptransport.h"
#include "devices/mtp/mtpmacdevicerefresher.h"
#include "devices/sysfsvolumesource.h"
#include "library/xmlitunesappfactory.h"
#include "quitsignals.h"
#include "singleinstance.h"
#include "ui/syncui.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <memory>

namespace {
int mainInt(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mobrelay"));
    QApplication::setDesktopFileName(QStringLiteral("mobrelay"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("mobrelay")));

    // Outside the desktop's own start: a folder as the phone and a library file
    // for this start only, for trying the program without a phone.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Copies an iTunes library to an Android phone."));
    parser.addHelpOption();
    const QCommandLineOption phoneFolder(QStringLiteral("phone-folder"),
                                         QStringLiteral("Use DIR as the phone."),
                                         QStringLiteral("DIR"));
    const QCommandLineOption library(QStringLiteral("library"),
                                     QStringLiteral("Read the library FILE this time."),
                                     QStringLiteral("FILE"));
    parser.addOption(phoneFolder);
    parser.addOption(library);
    parser.process(app);

    SingleInstance instance;
    if (!instance.claim())
        return 0;

    Logger &log = Logger::instance();
    log.openDefault();
    ExceptionReporter::instance();
    log.text("VARUZ LOG");
    LogScope scope("mainInt");
    log.value("argc", argc);

    std::shared_ptr<VolumeSource> volumes;
    if (parser.isSet(phoneFolder)) {
        const QString folder = QDir(parser.value(phoneFolder)).absolutePath();
        QDir().mkpath(folder);
        volumes = std::make_shared<FolderVolumeSource>(folder);
    } else {
        volumes = std::make_shared<SysfsVolumeSource>();
    }
    auto factory = std::make_shared<XmlITunesAppFactory>(
        parser.isSet(library) ? QDir().absoluteFilePath(parser.value(library)) : QString());
    std::unique_ptr<MtpRefresher> mtp;
    if (!parser.isSet(phoneFolder))
        mtp = std::make_unique<MtpMacDeviceRefresher>(std::make_shared<LibMtpTransport>());
    auto window = std::make_unique<SyncUi>(volumes, std::move(mtp), factory);
    QObject::connect(&instance, &SingleInstance::raiseRequested, window.get(),
                     &SyncUi::raiseWindow);
    QuitSignals quit;
    QObject::connect(&quit, &QuitSignals::quitRequested, window.get(), [&window](int aSignal) {
        Logger::instance().value("Quit signal", aSignal);
        window->close();
    });
    window->show();
    const int result = app.exec();
    window.reset();
    return scope.ret(result);
}
} // namespace

int main(int argc, char *argv[])
{
    return mainInt(argc, argv);
}
