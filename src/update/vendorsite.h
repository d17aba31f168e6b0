#pragma once

#include <QString>
#include <QUrl>

class SyncSettings;

// The vendor's web site: one base address and the fixed path of every page the
// program links to or fetches.
class VendorSite
{
public:
    static inline const QString DefaultBase = QStringLiteral("https://mobrelay.net");
    // Global settings key that points the program at another site (a mirror,
    // a local server for a manual check).
    static inline const QString BaseKey = QStringLiteral("vendor-site");

    static inline const QString Help = QStringLiteral("/help/help.html");
    static inline const QString EnableUsb = QStringLiteral("/blog/files/enable_usb.html");
    static inline const QString PhoneNotDetected =
        QStringLiteral("/blog/files/phone_not_detected.html");
    static inline const QString UsbConnectionProblem =
        QStringLiteral("/blog/files/usb_connection_problem.html");
    static inline const QString CreateITunesBackup =
        QStringLiteral("/blog/files/create_itunes_backup.html");
    static inline const QString Drm = QStringLiteral("/support/drm.htm");
    static inline const QString DirectoryFailed = QStringLiteral("/support/directoryfailed.htm");
    static inline const QString CopyFailed = QStringLiteral("/support/copyfailed.htm");
    static inline const QString UsbEject = QStringLiteral("/instructions/usbeject.htm");
    static inline const QString UpdateNotice = QStringLiteral("/update/update123.txt");

    // An empty or unusable base falls back to the default.
    explicit VendorSite(const QString &aBase = QString());
    explicit VendorSite(const SyncSettings &aSettings);
    // The site named by the settings file, read now.
    static VendorSite current();

    QUrl base() const { return mBase; }
    QUrl url(const QString &aPath) const;

private:
    QUrl mBase;
};
