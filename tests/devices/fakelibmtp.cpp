#include "fakelibmtp.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {
FakeLibMtp &fake()
{
    return FakeLibMtp::instance();
}

void enter(LIBMTP_mtpdevice_t *aDevice)
{
    ++fake().mCalls;
    if (aDevice && aDevice->errorstack)
        ++fake().mStaleErrorCalls;
}

// True when this call is to fail; the errors go onto the device's stack.
bool failing(LIBMTP_mtpdevice_t *aDevice)
{
    if (!fake().mFailNext)
        return false;
    fake().mFailNext = false;
    LIBMTP_error_t **tail = &aDevice->errorstack;
    while (*tail)
        tail = &(*tail)->next;
    for (const FakeLibMtp::Error &error : fake().mErrors) {
        auto *entry = static_cast<LIBMTP_error_t *>(std::calloc(1, sizeof(LIBMTP_error_t)));
        entry->errornumber = error.mNumber;
        entry->error_text = strdup(error.mText.c_str());
        *tail = entry;
        tail = &entry->next;
    }
    return true;
}

LIBMTP_file_t *newFile()
{
    ++fake().mLiveFiles;
    return static_cast<LIBMTP_file_t *>(std::calloc(1, sizeof(LIBMTP_file_t)));
}

char *text(const char *aText)
{
    return aText ? strdup(aText) : nullptr;
}

// Names are rewritten like a phone that takes no ':' would.
void rename(char *aName)
{
    for (char *c = aName; *c; ++c) {
        if (*c == ':')
            *c = '_';
    }
}
} // namespace

FakeLibMtp &FakeLibMtp::instance()
{
    static FakeLibMtp state;
    return state;
}

void FakeLibMtp::reset()
{
    const int inits = mInits;
    *this = FakeLibMtp();
    mInits = inits;
}

void LIBMTP_Init(void)
{
    ++fake().mInits;
}

LIBMTP_error_number_t LIBMTP_Detect_Raw_Devices(LIBMTP_raw_device_t **aDevices, int *aCount)
{
    enter(nullptr);
    *aDevices = nullptr;
    *aCount = 0;
    if (fake().mDetectResult != LIBMTP_ERROR_NONE)
        return fake().mDetectResult;
    const size_t count = fake().mRawDevices.size();
    *aDevices =
        static_cast<LIBMTP_raw_device_t *>(std::malloc(count * sizeof(LIBMTP_raw_device_t)));
    std::memcpy(*aDevices, fake().mRawDevices.data(), count * sizeof(LIBMTP_raw_device_t));
    *aCount = int(count);
    return LIBMTP_ERROR_NONE;
}

LIBMTP_mtpdevice_t *LIBMTP_Open_Raw_Device_Uncached(LIBMTP_raw_device_t *aDevice)
{
    enter(nullptr);
    fake().mLastObject = aDevice->devnum;
    if (fake().mOpenFails)
        return nullptr;
    ++fake().mLiveDevices;
    fake().mDevice = static_cast<LIBMTP_mtpdevice_t *>(std::calloc(1, sizeof(LIBMTP_mtpdevice_t)));
    return fake().mDevice;
}

void LIBMTP_Release_Device(LIBMTP_mtpdevice_t *aDevice)
{
    --fake().mLiveDevices;
    LIBMTP_Clear_Errorstack(aDevice);
    std::free(aDevice);
    fake().mDevice = nullptr;
}

LIBMTP_error_t *LIBMTP_Get_Errorstack(LIBMTP_mtpdevice_t *aDevice)
{
    return aDevice->errorstack;
}

void LIBMTP_Clear_Errorstack(LIBMTP_mtpdevice_t *aDevice)
{
    while (LIBMTP_error_t *error = aDevice->errorstack) {
        aDevice->errorstack = error->next;
        std::free(error->error_text);
        std::free(error);
    }
}

char *LIBMTP_Get_Friendlyname(LIBMTP_mtpdevice_t *aDevice)
{
    enter(aDevice);
    return text(fake().mFriendlyName);
}

char *LIBMTP_Get_Manufacturername(LIBMTP_mtpdevice_t *aDevice)
{
    enter(aDevice);
    return text("Samsung Electronics Co., Ltd.");
}

char *LIBMTP_Get_Modelname(LIBMTP_mtpdevice_t *aDevice)
{
    enter(aDevice);
    return text("SM-G973F");
}

char *LIBMTP_Get_Serialnumber(LIBMTP_mtpdevice_t *aDevice)
{
    enter(aDevice);
    return text("R58M12345");
}

int LIBMTP_Get_Storage(LIBMTP_mtpdevice_t *aDevice, int const)
{
    enter(aDevice);
    if (failing(aDevice))
        return -1;
    std::vector<LIBMTP_devicestorage_t> &storages = fake().mStorages;
    for (size_t i = 0; i < storages.size(); ++i)
        storages[i].next = i + 1 < storages.size() ? &storages[i + 1] : nullptr;
    aDevice->storage = storages.empty() ? nullptr : storages.data();
    return 0;
}

LIBMTP_file_t *LIBMTP_new_file_t(void)
{
    return newFile();
}

void LIBMTP_destroy_file_t(LIBMTP_file_t *aFile)
{
    if (!aFile)
        return;
    --fake().mLiveFiles;
    std::free(aFile->filename);
    std::free(aFile);
}

LIBMTP_file_t *LIBMTP_Get_Files_And_Folders(LIBMTP_mtpdevice_t *aDevice, uint32_t const aStorage,
                                            uint32_t const aParent)
{
    enter(aDevice);
    fake().mLastStorage = aStorage;
    fake().mLastParent = aParent;
    if (failing(aDevice))
        return nullptr;
    LIBMTP_file_t *first = nullptr;
    LIBMTP_file_t **tail = &first;
    for (const FakeLibMtp::File &file : fake().mFiles) {
        LIBMTP_file_t *entry = newFile();
        entry->item_id = file.mId;
        entry->parent_id = file.mParent;
        entry->storage_id = aStorage;
        entry->filename = file.mName.empty() ? nullptr : strdup(file.mName.c_str());
        entry->filesize = file.mSize;
        entry->filetype = file.mType;
        *tail = entry;
        tail = &entry->next;
    }
    return first;
}

uint32_t LIBMTP_Create_Folder(LIBMTP_mtpdevice_t *aDevice, char *aName, uint32_t aParent, uint32_t)
{
    enter(aDevice);
    fake().mLastParent = aParent;
    if (failing(aDevice))
        return 0;
    rename(aName);
    return fake().mNewId;
}

int LIBMTP_Send_File_From_File(LIBMTP_mtpdevice_t *aDevice, char const *const aPath,
                               LIBMTP_file_t *const aMeta, LIBMTP_progressfunc_t const,
                               void const *const)
{
    enter(aDevice);
    fake().mLastParent = aMeta->parent_id;
    fake().mLastName = aMeta->filename ? aMeta->filename : "";
    fake().mLastType = aMeta->filetype;
    // libmtp reads back the new object's place; top-level objects may name 0.
    aMeta->parent_id = 0;
    const bool fails = failing(aDevice) || access(aPath, R_OK) != 0;
    if (!fails || fake().mSendKeepsObject)
        aMeta->item_id = fake().mNewId;
    return fails ? -1 : 0;
}

int LIBMTP_Get_File_To_File_Descriptor(LIBMTP_mtpdevice_t *aDevice, uint32_t const,
                                       int const aDescriptor, LIBMTP_progressfunc_t const,
                                       void const *const)
{
    enter(aDevice);
    const std::string content = "payload";
    // A transfer that breaks off has written part of the data already.
    const bool fails = failing(aDevice);
    const size_t size = fails ? content.size() / 2 : content.size();
    if (write(aDescriptor, content.data(), size) != ssize_t(size))
        return -1;
    return fails ? -1 : 0;
}

int LIBMTP_Delete_Object(LIBMTP_mtpdevice_t *aDevice, uint32_t)
{
    enter(aDevice);
    return failing(aDevice) ? -1 : 0;
}

int LIBMTP_Set_File_Name(LIBMTP_mtpdevice_t *aDevice, LIBMTP_file_t *aFile, const char *aName)
{
    enter(aDevice);
    if (failing(aDevice))
        return -1;
    std::free(aFile->filename);
    aFile->filename = strdup(aName);
    rename(aFile->filename);
    return 0;
}
