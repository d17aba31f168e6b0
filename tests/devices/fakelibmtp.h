#pragma once

#include <libmtp.h>

#include <cstdint>
#include <string>
#include <vector>

// The state behind the link-time fake of the libmtp functions that the
// adapter calls. A test arranges it, runs the adapter and reads what libmtp
// was asked and what the adapter left unreleased.
struct FakeLibMtp
{
    struct Error
    {
        LIBMTP_error_number_t mNumber;
        std::string mText;
    };
    struct File
    {
        uint32_t mId;
        uint32_t mParent; // as the phone reports it: 0 for some top-level objects
        std::string mName;
        LIBMTP_filetype_t mType;
        uint64_t mSize;
    };

    int mInits = 0;
    LIBMTP_error_number_t mDetectResult = LIBMTP_ERROR_NONE;
    std::vector<LIBMTP_raw_device_t> mRawDevices;
    bool mOpenFails = false;
    const char *mFriendlyName = nullptr; // null: the phone does not say
    std::vector<LIBMTP_devicestorage_t> mStorages;
    std::vector<File> mFiles;
    uint32_t mNewId = 1000;
    // The next call that can fail does, leaving these errors on the stack; a
    // failing send still reports mNewId when mSendKeepsObject.
    bool mFailNext = false;
    std::vector<Error> mErrors;
    bool mSendKeepsObject = false;

    // Seen by the fake.
    int mCalls = 0; // libmtp calls made
    uint32_t mLastParent = 0;
    uint32_t mLastStorage = 0;
    uint32_t mLastObject = 0;
    std::string mLastName;
    LIBMTP_filetype_t mLastType = LIBMTP_FILETYPE_UNKNOWN;
    int mLiveFiles = 0;       // file records handed out and not destroyed
    int mLiveDevices = 0;     // devices opened and not released
    int mStaleErrorCalls = 0; // calls made while an earlier error was still on the stack
    LIBMTP_mtpdevice_t *mDevice = nullptr;

    static FakeLibMtp &instance();
    void reset();
};
