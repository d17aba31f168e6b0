#include "fakemtptransport.h"

#include "fakemtpconnection.h"
#include "fakemtpphone.h"

int FakeMtpTransport::DetectRawDevices(QList<MtpRawDevice> &aDevices)
{
    aDevices.clear();
    for (const auto &phone : std::as_const(mPhones)) {
        if (phone->isPlugged())
            aDevices.append(phone->rawDevice());
    }
    return MtpConnection::Ok;
}

std::unique_ptr<MtpConnection> FakeMtpTransport::Open(const MtpRawDevice &aDevice, QString &aError)
{
    for (const auto &phone : std::as_const(mPhones)) {
        const MtpRawDevice raw = phone->rawDevice();
        if (!phone->isPlugged() || raw.busLocation() != aDevice.busLocation())
            continue;
        if (phone->isHeld()) {
            aError = QStringLiteral("Could not open the phone. Another program may be holding "
                                    "it: GNOME's gvfs (gvfsd-mtp).");
            return nullptr;
        }
        return std::make_unique<FakeMtpConnection>(phone, phone->openSession());
    }
    aError = QStringLiteral("The phone is no longer connected.");
    return nullptr;
}
