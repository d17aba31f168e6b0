#pragma once

#include "devices/mtp/mtptransport.h"

// Phones over libmtp. The first one made initialises libmtp for the process,
// so make it on the main thread.
class LibMtpTransport : public MtpTransport
{
public:
    // aProcRoot is where running programs are looked up when an open fails.
    explicit LibMtpTransport(const QString &aProcRoot = QStringLiteral("/proc"));

    int DetectRawDevices(QList<MtpRawDevice> &aDevices) override;
    std::unique_ptr<MtpConnection> Open(const MtpRawDevice &aDevice, QString &aError) override;

    // The desktop program that is running and likely holds phones ("GNOME's gvfs
    // (gvfsd-mtp)", "KDE's kiod (kiod5)"), or empty.
    static QString likelyHolder(const QString &aProcRoot);

private:
    QString mProcRoot;
};
