#include "devices/mtp/libmtptransport.h"

#include "config.h"
#include "core/logger.h"
#include "devices/mtp/mtpconnection.h"

#include <QDir>
#include <QFile>

#if HAVE_MTP
#include "devices/mtp/libmtpconnection.h"

#include <libmtp.h>

#include <cstdlib>
#include <mutex>
#endif

LibMtpTransport::LibMtpTransport(const QString &aProcRoot) : mProcRoot(aProcRoot)
{
#if HAVE_MTP
    static std::once_flag initialised;
    std::call_once(initialised, [] { LIBMTP_Init(); });
#endif
}

QString LibMtpTransport::likelyHolder(const QString &aProcRoot)
{
    const QDir proc(aProcRoot);
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const QString name = QString::fromUtf8(comm.readAll()).trimmed();
        if (name == QLatin1String("gvfsd-mtp"))
            return QStringLiteral("GNOME's gvfs (") + name + QLatin1Char(')');
        if (name.startsWith(QLatin1String("kiod")))
            return QStringLiteral("KDE's kiod (") + name + QLatin1Char(')');
    }
    return {};
}

int LibMtpTransport::DetectRawDevices(QList<MtpRawDevice> &aDevices)
{
    LogScope scope("LibMtpTransport::DetectRawDevices");
    aDevices.clear();
#if HAVE_MTP
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    const LIBMTP_error_number_t error = LIBMTP_Detect_Raw_Devices(&raw, &count);
    if (error != LIBMTP_ERROR_NONE && error != LIBMTP_ERROR_NO_DEVICE_ATTACHED) {
        std::free(raw);
        Logger::instance().value("! Failed to detect raw devices, error", int(error));
        return scope.ret(MtpConnection::Failed);
    }
    for (int i = 0; error == LIBMTP_ERROR_NONE && i < count; ++i) {
        MtpRawDevice device;
        device.mVendor = QString::fromUtf8(raw[i].device_entry.vendor);
        device.mProduct = QString::fromUtf8(raw[i].device_entry.product);
        device.mVendorId = raw[i].device_entry.vendor_id;
        device.mProductId = raw[i].device_entry.product_id;
        device.mBusLocation = raw[i].bus_location;
        device.mDeviceNumber = raw[i].devnum;
        Logger::instance().value("Raw device", device.mVendor + QLatin1Char(' ') + device.mProduct +
                                                   QLatin1Char(' ') + device.busLocation());
        aDevices.append(device);
    }
    std::free(raw);
#endif
    return scope.ret(MtpConnection::Ok);
}

std::unique_ptr<MtpConnection> LibMtpTransport::Open(const MtpRawDevice &aDevice, QString &aError)
{
    LogScope scope("LibMtpTransport::Open");
    aError.clear();
#if HAVE_MTP
    // libmtp opens from its own raw record, so find the phone on the bus again.
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    LIBMTP_mtpdevice_t *device = nullptr;
    bool found = false;
    if (LIBMTP_Detect_Raw_Devices(&raw, &count) == LIBMTP_ERROR_NONE) {
        for (int i = 0; i < count && !found; ++i) {
            if (raw[i].bus_location != aDevice.mBusLocation ||
                raw[i].devnum != aDevice.mDeviceNumber)
                continue;
            found = true;
            device = LIBMTP_Open_Raw_Device_Uncached(&raw[i]);
        }
    }
    std::free(raw);
    if (device)
        return std::make_unique<LibMtpConnection>(device);
    if (!found) {
        aError = QStringLiteral("The phone is no longer connected.");
    } else {
        const QString holder = likelyHolder(mProcRoot);
        aError = QStringLiteral("Could not open the phone. Another program may be holding it: ") +
                 (holder.isEmpty() ? QStringLiteral("a desktop file manager's MTP mount "
                                                    "(GNOME's gvfs, KDE's kiod)")
                                   : holder) +
                 QStringLiteral(". Unmount the phone in the file manager or close that program, "
                                "unlock the phone, allow file transfer on it and try again.");
    }
#else
    Q_UNUSED(aDevice);
    aError = QStringLiteral("This build of Mobrelay has no MTP support.");
#endif
    Logger::instance().value("Unable to open raw device", aError);
    return nullptr;
}
