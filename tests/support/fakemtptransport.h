#pragma once

#include "devices/mtp/mtptransport.h"

#include <memory>

class FakeMtpPhone;

// The bus as the tests want it: the phones added and plugged in.
class FakeMtpTransport : public MtpTransport
{
public:
    void addPhone(std::shared_ptr<FakeMtpPhone> aPhone) { mPhones.append(std::move(aPhone)); }

    int DetectRawDevices(QList<MtpRawDevice> &aDevices) override;
    std::unique_ptr<MtpConnection> Open(const MtpRawDevice &aDevice, QString &aError) override;

private:
    QList<std::shared_ptr<FakeMtpPhone>> mPhones;
};
