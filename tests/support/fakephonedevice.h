#pragma once

#include "devices/device.h"

// One storage of a phone reached over MTP, with figures and failures set by
// the test. Nothing is ever written.
class FakePhoneDevice : public Device
{
public:
    FakePhoneDevice(const QString &aName, const QString &aUniqueId);
    ~FakePhoneDevice() override;

    using Device::createPlaylist;
    int CopyFileToDevice(const QString &, const QString &, bool) override { return CopyFailed; }
    int GetAndroidVersion() override { return -1; }
    int GetDeviceType() override { return TypeMtp; }
    void PrepareForSync() override {}
    void FinalizeSync() override {}
    bool IsMounted() override { return mMounted; }
    int UploadTrack(Track &) override { return CopyFailed; }
    int DeleteTrack(Track &) override { return DeleteFailed; }
    QString UniqueDeviceId() override { return mUniqueId; }
    QString FriendlyName() override { return mName; }
    int GetStorageCapacity(quint64 &aBytes) override;
    int GetFreeStorageSpace(quint64 &aBytes) override;
    void SetConfigured() override {}
    void createPlaylist(const LocalPlaylist &, const TrackList &, bool) override {}
    void removeOldPlaylists() override {}
    void uploadAlbumArt(const Track &, const QString &) override {}
    void setPcSoftwareVersion(const QString &) override {}

    QString mName;
    QString mUniqueId;
    bool mMounted = true;
    quint64 mCapacity = quint64(32) << 30;
    quint64 mFree = quint64(10) << 30;
    // A non-zero code fails the query with it.
    int mCapacityResult = 0;
    int mFreeResult = 0;
    // Set to true by the destructor, so that a test can see when it ran.
    bool *mDeleted = nullptr;
};
