#include "core/logger.h"
#include "devices/mtp/libmtpconnection.h"
#include "devices/mtp/libmtptransport.h"
#include "fakelibmtp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <malloc.h>

namespace {
FakeLibMtp &fake()
{
    return FakeLibMtp::instance();
}

LIBMTP_raw_device_t rawDevice(uint32_t aBus, uint8_t aDevice)
{
    LIBMTP_raw_device_t raw{};
    raw.device_entry.vendor = const_cast<char *>("Samsung");
    raw.device_entry.product = const_cast<char *>("Galaxy models (MTP)");
    raw.device_entry.vendor_id = 0x04e8;
    raw.device_entry.product_id = 0x6860;
    raw.bus_location = aBus;
    raw.devnum = aDevice;
    return raw;
}

constexpr int Ok = MtpConnection::Ok;
const QString Storage = QStringLiteral("65537");

MtpObject fileObject(const QString &aParent, const QString &aName)
{
    MtpObject object;
    object.mStorageId = Storage;
    object.mParentId = aParent;
    object.mName = aName;
    return object;
}
} // namespace

class TestLibMtp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void detect_data();
    void detect();
    void openFailure_data();
    void openFailure();
    void listing();
    void ids_data();
    void ids();
    void failures_data();
    void failures();
    void sendRenameRead();
    void nothingLeaks();

private:
    std::unique_ptr<MtpConnection> open();
    QString localFile(const QString &aName, const QByteArray &aContent);

    QTemporaryDir mDir;
    std::unique_ptr<LibMtpTransport> mTransport;
};

void TestLibMtp::initTestCase()
{
    QVERIFY(mDir.isValid());
    Logger::instance().openFile(mDir.filePath(u"log.txt"_qs));
    mTransport = std::make_unique<LibMtpTransport>(mDir.filePath(u"proc"_qs));
    LibMtpTransport second;
    QCOMPARE(fake().mInits, 1);
}

void TestLibMtp::init()
{
    fake().reset();
    fake().mRawDevices = {rawDevice(3, 7)};
    static char internal[] = "Internal storage";
    LIBMTP_devicestorage_t storage{};
    storage.id = 0x10001;
    storage.MaxCapacity = 64'000'000'000;
    storage.FreeSpaceInBytes = 12'345'678'901;
    storage.StorageDescription = internal;
    fake().mStorages = {storage, storage};
    fake().mStorages[1].id = 0x20001;
    fake().mStorages[1].StorageDescription = nullptr;
}

std::unique_ptr<MtpConnection> TestLibMtp::open()
{
    QList<MtpRawDevice> devices;
    QString error;
    if (mTransport->DetectRawDevices(devices) != Ok || devices.isEmpty())
        return nullptr;
    return mTransport->Open(devices.first(), error);
}

QString TestLibMtp::localFile(const QString &aName, const QByteArray &aContent)
{
    QFile file(mDir.filePath(aName));
    if (!file.open(QIODevice::WriteOnly) || file.write(aContent) != aContent.size())
        return {};
    return file.fileName();
}

void TestLibMtp::detect_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("phones");

    QTest::newRow("none attached") << int(LIBMTP_ERROR_NO_DEVICE_ATTACHED) << 0;
    QTest::newRow("two of one model") << int(LIBMTP_ERROR_NONE) << 2;
    QTest::newRow("usb error") << int(LIBMTP_ERROR_USB_LAYER) << -1;
}

void TestLibMtp::detect()
{
    QFETCH(int, result);
    QFETCH(int, phones);
    fake().mDetectResult = LIBMTP_error_number_t(result);
    fake().mRawDevices = {rawDevice(3, 7), rawDevice(3, 9)};
    QList<MtpRawDevice> devices;
    QCOMPARE(mTransport->DetectRawDevices(devices), phones < 0 ? MtpConnection::Failed : Ok);
    QCOMPARE(devices.size(), qMax(phones, 0));
    if (phones == 2) {
        QCOMPARE(devices[0].mVendor, u"Samsung"_qs);
        QCOMPARE(devices[0].mProductId, quint16(0x6860));
        QVERIFY(devices[0].busLocation() != devices[1].busLocation());
        // Opening finds the phone asked for, not the first of its model.
        QString error;
        QVERIFY(mTransport->Open(devices[1], error));
        QCOMPARE(fake().mLastObject, 9u);
        QCOMPARE(fake().mLiveDevices, 0);
    }
}

void TestLibMtp::openFailure_data()
{
    QTest::addColumn<QString>("running");
    QTest::addColumn<QString>("named");

    QTest::newRow("gnome") << u"gvfsd-mtp"_qs << u"GNOME's gvfs (gvfsd-mtp)"_qs;
    QTest::newRow("kde") << u"kiod6"_qs << u"KDE's kiod (kiod6)"_qs;
    QTest::newRow("unknown") << u"bash"_qs << u"(GNOME's gvfs, KDE's kiod)"_qs;
}

void TestLibMtp::openFailure()
{
    QFETCH(QString, running);
    QFETCH(QString, named);
    const QString proc = mDir.filePath(u"proc"_qs);
    QDir(proc).removeRecursively();
    QVERIFY(QDir().mkpath(proc + u"/4242"_qs));
    QFile comm(proc + u"/4242/comm"_qs);
    QVERIFY(comm.open(QIODevice::WriteOnly) && comm.write(running.toUtf8() + '\n') > 0);
    comm.close();

    fake().mOpenFails = true;
    QList<MtpRawDevice> devices;
    QCOMPARE(mTransport->DetectRawDevices(devices), Ok);
    QString error;
    QVERIFY(!mTransport->Open(devices.value(0), error));
    QVERIFY2(error.contains(named), qPrintable(error));

    fake().mRawDevices.clear();
    QVERIFY(!mTransport->Open(devices.value(0), error));
    QVERIFY2(error.contains(u"no longer connected"_qs), qPrintable(error));
}

void TestLibMtp::listing()
{
    auto connection = open();
    QVERIFY(connection);
    QCOMPARE(connection->friendlyName(), QString());

    QList<MtpStorage> storages;
    QCOMPARE(connection->GetStorages(storages), Ok);
    QCOMPARE(storages.size(), 2);
    QCOMPARE(storages[0].mId, u"65537"_qs);
    QCOMPARE(storages[0].mDescription, u"Internal storage"_qs);
    QCOMPARE(storages[0].mFreeBytes, 12'345'678'901ull);
    QCOMPARE(storages[1].mDescription, u"Storage"_qs);

    fake().mFiles = {{4294967294u, 0, "Music", LIBMTP_FILETYPE_FOLDER, 0},
                     {12, 0, "list.m3u", LIBMTP_FILETYPE_PLAYLIST, 40},
                     {13, 0, "notes.txt", LIBMTP_FILETYPE_UNKNOWN, 5},
                     {14, 0, "", LIBMTP_FILETYPE_MP3, 3'000'000'000},
                     {15, 4294967294u, "inside", LIBMTP_FILETYPE_MP3, 1}};
    QList<MtpObject> entries;
    QCOMPARE(connection->GetFilesAndFolders(Storage, MtpConnection::RootId, entries), Ok);
    QCOMPARE(fake().mLastParent, uint32_t(LIBMTP_FILES_AND_FOLDERS_ROOT));
    QCOMPARE(fake().mLastStorage, 0x10001u);
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries[0].mId, u"4294967294"_qs);
    QCOMPARE(entries[0].mParentId, MtpConnection::RootId);
    QCOMPARE(entries[0].mStorageId, Storage);
    QList<int> types;
    for (const MtpObject &entry : std::as_const(entries))
        types.append(entry.mType);
    QCOMPARE(types, QList<int>({MtpObject::TypeFolder, MtpObject::TypePlaylist, MtpObject::TypeFile,
                                MtpObject::TypeOther}));
    QCOMPARE(entries[3].mName, u"Unknown"_qs);
    QCOMPARE(entries[3].mSize, 3'000'000'000ll);
    QCOMPARE(fake().mLiveFiles, 0);

    // An empty folder answers NULL with nothing on the error stack.
    fake().mFiles.clear();
    entries.append(MtpObject());
    QCOMPARE(connection->GetFilesAndFolders(Storage, u"77"_qs, entries), Ok);
    QVERIFY(entries.isEmpty());
}

void TestLibMtp::ids_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<uint>("passed"); // 0: refused before reaching libmtp

    QTest::newRow("root") << MtpConnection::RootId << uint(LIBMTP_FILES_AND_FOLDERS_ROOT);
    QTest::newRow("folder") << u"4711"_qs << 4711u;
    QTest::newRow("zero is no root") << u"0"_qs << 0u;
    QTest::newRow("text") << u"Music"_qs << 0u;
    QTest::newRow("too big") << u"4294967296"_qs << 0u;
}

void TestLibMtp::ids()
{
    QFETCH(QString, id);
    QFETCH(uint, passed);
    auto connection = open();
    QVERIFY(connection);
    fake().mCalls = 0;
    QList<MtpObject> entries;
    MtpObject folder;
    MtpObject object = fileObject(id, u"a.mp3"_qs);
    const int expected = passed ? Ok : MtpConnection::Failed;
    QCOMPARE(connection->GetFilesAndFolders(Storage, id, entries), expected);
    QCOMPARE(connection->CreateFolder(Storage, id, u"New"_qs, folder), expected);
    QCOMPARE(fake().mLastParent, passed);
    QCOMPARE(connection->SendFileFromFile(localFile(u"a.mp3"_qs, {}), object), expected);
    QCOMPARE(fake().mCalls, passed ? 3 : 0);
    // Objects are never the root.
    if (passed != LIBMTP_FILES_AND_FOLDERS_ROOT)
        QCOMPARE(connection->DeleteObject(id), expected);
    QCOMPARE(connection->DeleteObject(MtpConnection::RootId), MtpConnection::Failed);
    QCOMPARE(fake().mStaleErrorCalls, 0);
}

void TestLibMtp::failures_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("result");

    const int ptp = LIBMTP_ERROR_PTP_LAYER;
    const int gone = MtpConnection::Disconnected;
    const int full = MtpConnection::StorageFull;
    const int failed = MtpConnection::Failed;
    QTest::newRow("list, refused")
        << u"list"_qs << ptp << u"PTP Layer error 2009: get"_qs << failed;
    QTest::newRow("send, usb") << u"send"_qs << int(LIBMTP_ERROR_USB_LAYER) << u"usb"_qs << gone;
    QTest::newRow("send, timeout") << u"send"_qs << ptp << u"Error 02fa: Timeout"_qs << gone;
    QTest::newRow("send, full") << u"send"_qs << int(LIBMTP_ERROR_STORAGE_FULL) << u"full"_qs
                                << full;
    QTest::newRow("send, store full")
        << u"send"_qs << ptp << u"PTP Layer error 200c: send"_qs << full;
    QTest::newRow("delete, no device")
        << u"delete"_qs << int(LIBMTP_ERROR_NO_DEVICE_ATTACHED) << u"gone"_qs << gone;
    QTest::newRow("storages") << u"storages"_qs << int(LIBMTP_ERROR_GENERAL) << u"ids"_qs << failed;
    QTest::newRow("create") << u"create"_qs << int(LIBMTP_ERROR_GENERAL) << u"exists"_qs << failed;
    QTest::newRow("rename") << u"rename"_qs << ptp << u"PTP Layer error 2002: x"_qs << failed;
    QTest::newRow("read") << u"read"_qs << ptp << u"PTP Layer error 02ff: read"_qs << gone;
}

void TestLibMtp::failures()
{
    QFETCH(QString, call);
    QFETCH(int, error);
    QFETCH(QString, text);
    auto connection = open();
    QVERIFY(connection);
    fake().mFailNext = true;
    fake().mErrors = {{LIBMTP_ERROR_GENERAL, "first of two"},
                      {LIBMTP_error_number_t(error), text.toStdString()}};
    const QString local = localFile(u"local.bin"_qs, "old content");

    QList<MtpObject> entries;
    QList<MtpStorage> storages;
    MtpObject object = fileObject(MtpConnection::RootId, u"x.mp3"_qs);
    object.mId = u"21"_qs;
    int result = Ok;
    if (call == u"list"_qs)
        result = connection->GetFilesAndFolders(Storage, u"5"_qs, entries);
    else if (call == u"send"_qs)
        result = connection->SendFileFromFile(local, object);
    else if (call == u"delete"_qs)
        result = connection->DeleteObject(u"21"_qs);
    else if (call == u"storages"_qs)
        result = connection->GetStorages(storages);
    else if (call == u"create"_qs)
        result = connection->CreateFolder(Storage, u"5"_qs, u"x"_qs, object);
    else if (call == u"rename"_qs)
        result = connection->SetFileName(object, u"y.mp3"_qs);
    else
        result = connection->GetFileToFile(u"21"_qs, local);
    QTEST(result, "result");
    QVERIFY2(connection->lastError().contains(u"first of two"_qs) &&
                 connection->lastError().contains(text),
             qPrintable(connection->lastError()));
    // Read and cleared: the next call starts from an empty stack.
    QVERIFY(!fake().mDevice->errorstack);
    QVERIFY(connection->DeleteObject(u"22"_qs) == Ok && fake().mStaleErrorCalls == 0);
    if (call == u"read"_qs)
        QCOMPARE(QFileInfo(local).size(), 0);
    if (call == u"rename"_qs)
        QCOMPARE(object.mName, u"x.mp3"_qs);
}

void TestLibMtp::sendRenameRead()
{
    auto connection = open();
    QVERIFY(connection);
    const QString path = localFile(u"My: List.m3u"_qs, "#EXTM3U\n");
    MtpObject playlist = fileObject(MtpConnection::RootId, u"My: List.m3u"_qs);
    playlist.mType = MtpObject::TypePlaylist;
    QCOMPARE(connection->SendFileFromFile(path, playlist), Ok);
    QCOMPARE(playlist.mId, u"1000"_qs);
    // Sent as a plain file under an explicit parent, which stays the root.
    QCOMPARE(fake().mLastType, LIBMTP_FILETYPE_UNKNOWN);
    QCOMPARE(fake().mLastParent, uint32_t(LIBMTP_FILES_AND_FOLDERS_ROOT));
    QCOMPARE(fake().mLastName, std::string("My: List.m3u"));
    QCOMPARE(playlist.mParentId, MtpConnection::RootId);
    QCOMPARE(playlist.mSize, 8);

    // The phone may pick other names than asked for.
    QCOMPARE(connection->SetFileName(playlist, u"Mix: 2.m3u"_qs), Ok);
    QCOMPARE(playlist.mName, u"Mix_ 2.m3u"_qs);
    MtpObject folder;
    QCOMPARE(connection->CreateFolder(Storage, u"12"_qs, u"AC:DC"_qs, folder), Ok);
    QCOMPARE(folder.mName, u"AC_DC"_qs);
    QCOMPARE(folder.mId, u"1000"_qs);
    QCOMPARE(folder.mParentId, u"12"_qs);

    // A failed send that made the object still names it.
    fake().mFailNext = true;
    fake().mSendKeepsObject = true;
    fake().mNewId = 1001;
    QCOMPARE(connection->SendFileFromFile(path, playlist), MtpConnection::Failed);
    QCOMPARE(playlist.mId, u"1001"_qs);

    QCOMPARE(connection->GetFileToFile(u"1001"_qs, mDir.filePath(u"back"_qs)), Ok);
    QFile back(mDir.filePath(u"back"_qs));
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), QByteArray("payload"));
    QCOMPARE(fake().mLiveFiles, 0);
}

void TestLibMtp::nothingLeaks()
{
    // Strings, arrays and records that libmtp hands over are ours to free.
    fake().mFriendlyName = "Galaxy";
    fake().mFiles = {{1, 0, "Music", LIBMTP_FILETYPE_FOLDER, 0},
                     {2, 0, "a", LIBMTP_FILETYPE_MP3, 1}};
    auto round = [this] {
        auto connection = open();
        QList<MtpObject> entries;
        QList<MtpStorage> storages;
        MtpObject object;
        connection->friendlyName();
        connection->manufacturerName();
        connection->modelName();
        connection->serialNumber();
        connection->GetStorages(storages);
        connection->GetFilesAndFolders(Storage, MtpConnection::RootId, entries);
        fake().mFailNext = true;
        fake().mErrors = {{LIBMTP_ERROR_GENERAL, std::string(200, 'e')}};
        connection->CreateFolder(Storage, u"1"_qs, u"x"_qs, object);
    };
    round();
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 200; ++i)
        round();
    QVERIFY2(mallinfo2().uordblks < before + 4096,
             qPrintable(QString::number(mallinfo2().uordblks - before)));
    QCOMPARE(fake().mLiveFiles, 0);
    QCOMPARE(fake().mLiveDevices, 0);
    QCOMPARE(fake().mStaleErrorCalls, 0);
}

QTEST_GUILESS_MAIN(TestLibMtp)
#include "tst_libmtp.moc"
