#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtpfile.h"
#include "devices/mtp/mtpsession.h"
#include "fakemtpphone.h"
#include "fakemtptransport.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
enum Fault
{
    NoFault = 0,
    FailTwice = 1,
    FailAlways = 2,
    FailLeavingObject = 4,
    RefuseDelete = 8,
    NoSpace = 16,
    UnplugAtSend = 32,
    Duplicates = 64,
    Leftover = 128,
};

constexpr int Ok = MtpConnection::Ok;
const QString Album = QStringLiteral("/Music/Artist/Album");
} // namespace

class TestMtpFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void resolve_data();
    void resolve();
    void copy_data();
    void copy();
    void remove_data();
    void remove();
    void staleIdsAfterReconnect();
    void readAndWrite();

private:
    QString local(const QByteArray &aContent);

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeMtpPhone> mPhone;
    std::shared_ptr<FakeMtpTransport> mTransport;
    std::unique_ptr<MtpSession> mSession;
    std::unique_ptr<MtpFile> mFile;
};

void TestMtpFile::init()
{
    mFile.reset();
    mSession.reset();
    mHome = std::make_unique<TestHome>();
    mPhone = std::make_shared<FakeMtpPhone>();
    mPhone->put(Album + u"/old.mp3"_qs, "old");
    mPhone->put(u"/Music/Other/song.mp3"_qs, "other");
    mTransport = std::make_shared<FakeMtpTransport>();
    mTransport->addPhone(mPhone);
    mSession = std::make_unique<MtpSession>(mTransport, mPhone->rawDevice());
    QCOMPARE(mSession->connect(), Ok);
    mFile = std::make_unique<MtpFile>(*mSession, mPhone->storageId());
}

QString TestMtpFile::local(const QByteArray &aContent)
{
    const QString path = mHome->filePath(u"local.bin"_qs);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(aContent) != aContent.size())
        return {};
    return path;
}

void TestMtpFile::resolve_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("create");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("existsAfter");

    QTest::newRow("file") << Album + u"/old.mp3"_qs << false << Ok << true;
    QTest::newRow("names are exact")
        << u"/music/Artist/Album/old.mp3"_qs << false << MtpConnection::NotFound << false;
    QTest::newRow("missing, not made")
        << u"/Music/New/Sub"_qs << false << MtpConnection::NotFound << false;
    QTest::newRow("missing, made") << u"/Music/New/Sub"_qs << true << Ok << true;
    QTest::newRow("a file is no folder")
        << Album + u"/old.mp3/x"_qs << true << MtpConnection::NotFound << false;
    QTest::newRow("root") << QString() << false << Ok << true;
}

void TestMtpFile::resolve()
{
    QFETCH(QString, path);
    QFETCH(bool, create);
    QString id;
    QString parent;
    QTEST(mSession->GetOrCreateFromPath(mPhone->storageId(), path, id, parent, create), "result");
    QTEST(mPhone->exists(path), "existsAfter");
    if (path.isEmpty())
        QCOMPARE(id, MtpConnection::RootId);

    // Each folder is read from the phone once per connection.
    const int listed = mPhone->listings();
    QVERIFY(listed <= path.count(u'/') + 1);
    mSession->GetOrCreateFromPath(mPhone->storageId(), path, id, parent, false);
    QCOMPARE(mPhone->listings(), listed);
}

void TestMtpFile::copy_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("faults");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("sends");

    const QString old = Album + u"/old.mp3"_qs;
    const QString fresh = Album + u"/new.mp3"_qs;
    const int failed = MtpConnection::SendFailed;
    QTest::newRow("new folders") << u"/Music/X/Y/new.mp3"_qs << 0 << Ok << QByteArray("new") << 1;
    QTest::newRow("top level") << u"/top.mp3"_qs << 0 << Ok << QByteArray("new") << 1;
    QTest::newRow("replace, duplicates allowed")
        << old << int(Duplicates) << Ok << QByteArray("new") << 1;
    QTest::newRow("fails twice") << old << int(FailTwice) << Ok << QByteArray("new") << 3;
    QTest::newRow("always fails") << old << int(FailAlways) << failed << QByteArray("old") << 6;
    QTest::newRow("copied anyway") << old << int(FailLeavingObject) << Ok << QByteArray("new") << 2;
    QTest::newRow("copied anyway, not deletable")
        << old << (FailLeavingObject | RefuseDelete) << failed << QByteArray("old") << 1;
    QTest::newRow("old one not deletable")
        << old << int(RefuseDelete) << failed << QByteArray("old") << 1;
    QTest::newRow("out of space") << old << int(NoSpace) << MtpConnection::StorageFull
                                  << QByteArray("old") << 1;
    QTest::newRow("unplugged") << old << int(UnplugAtSend) << MtpConnection::Disconnected
                               << QByteArray("old") << 0;
    QTest::newRow("left over from a cut copy")
        << fresh << int(Leftover) << Ok << QByteArray("new") << 1;
}

void TestMtpFile::copy()
{
    QFETCH(QString, target);
    QFETCH(int, faults);
    QFETCH(int, result);
    const QString folder = target.left(target.lastIndexOf(u'/'));
    QStringList names = mPhone->names(folder);
    if (!names.contains(target.mid(folder.size() + 1)))
        names.append(target.mid(folder.size() + 1));
    names.sort();

    mPhone->setAllowDuplicateNames(faults & Duplicates);
    if (faults & (FailTwice | FailAlways | FailLeavingObject))
        mPhone->failSends(faults & FailAlways  ? FakeMtpPhone::Always
                          : faults & FailTwice ? 2
                                               : 1,
                          faults & FailLeavingObject);
    if (faults & RefuseDelete)
        mPhone->refuseDeletes(1);
    if (faults & NoSpace)
        mPhone->setFreeBytes(2);
    if (faults & Leftover)
        mPhone->put(folder + u'/' + MtpFile::TemporaryName, "ne");
    if (faults & UnplugAtSend) // after listing /, /Music, /Music/Artist and the album
        mPhone->unplugAt(5);

    QCOMPARE(mFile->copy(local("new"), target, 5), result);
    QTEST(mPhone->content(target), "content");
    QTEST(mPhone->sends(), "sends");
    QCOMPARE(mSession->isConnected(), result != MtpConnection::Disconnected);
    if (result == MtpConnection::Disconnected)
        return;
    // Never a partial object under the final name, never two of one name; a
    // temporary object stays only where the phone refused to delete it.
    if ((faults & (FailLeavingObject | RefuseDelete)) == (FailLeavingObject | RefuseDelete))
        names.prepend(MtpFile::TemporaryName);
    QCOMPARE(mPhone->names(folder), names);
    if (result != Ok)
        return;
    // The listing follows sends, renames and deletes without asking the phone again.
    const int listed = mPhone->listings();
    QCOMPARE(mFile->exists(target), true);
    QCOMPARE(mFile->exists(folder + u'/' + MtpFile::TemporaryName), false);
    QCOMPARE(mPhone->listings(), listed);
}

void TestMtpFile::remove_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("faults");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("remains");

    const QString old = Album + u"/old.mp3"_qs;
    QTest::newRow("file") << old << 0 << Ok << false;
    QTest::newRow("missing") << Album + u"/none.mp3"_qs << 0 << MtpConnection::NotFound << false;
    QTest::newRow("refused") << old << int(RefuseDelete) << MtpConnection::Failed << true;
}

void TestMtpFile::remove()
{
    QFETCH(QString, path);
    QFETCH(int, faults);
    QFETCH(int, result);
    if (faults & RefuseDelete)
        mPhone->refuseDeletes(FakeMtpPhone::Always);
    QCOMPARE(mFile->remove(path), result);
    QTEST(mPhone->exists(path), "remains");
    if (result == Ok)
        QCOMPARE(mFile->exists(path), false);
}

void TestMtpFile::staleIdsAfterReconnect()
{
    const QString path = Album + u"/old.mp3"_qs;
    QVERIFY(mFile->exists(path));
    // The phone numbers its objects afresh: every id read before means another object now.
    QCOMPARE(mSession->connect(), Ok);
    QCOMPARE(mFile->remove(path), Ok);
    QVERIFY(!mPhone->exists(path));
    QCOMPARE(mPhone->content(u"/Music/Other/song.mp3"_qs), QByteArray("other"));
    QVERIFY(mPhone->exists(Album));
    QCOMPARE(mPhone->listings(Album), 2);

    // Unplugged: the next operations fail at once, a new connection starts afresh.
    mPhone->unplugAt(1);
    QCOMPARE(mFile->mkpath(u"/Music/New"_qs), MtpConnection::Disconnected);
    QVERIFY(!mSession->isConnected());
    QCOMPARE(mFile->exists(u"/Music"_qs), false);
    mPhone->setPlugged(true);
    QCOMPARE(mSession->connect(), Ok);
    QVERIFY(mFile->exists(u"/Music"_qs));
    QCOMPARE(mPhone->listings(u"/"_qs), 3);
}

void TestMtpFile::readAndWrite()
{
    const QString path = Album + u"/old.mp3"_qs;
    MtpFile reader(*mSession, mPhone->storageId(), path);
    MtpFile missing(*mSession, mPhone->storageId(), Album + u"/none.mp3"_qs);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QVERIFY(!reader.open(QIODevice::ReadOnly));
    QVERIFY(missing.open(QIODevice::ReadOnly));
    QCOMPARE(QDir(mHome->filePath(u"VARUZ"_qs)).entryList(QDir::Files),
             QStringList({u"temp0"_qs, u"temp1"_qs}));
    QCOMPARE(reader.readAll(), QByteArray("old"));
    QCOMPARE(missing.readAll(), QByteArray());
    QCOMPARE(reader.close(), Ok);
    QCOMPARE(missing.close(), Ok);
    QVERIFY(!mPhone->exists(Album + u"/none.mp3"_qs));

    MtpFile appender(*mSession, mPhone->storageId(), path);
    QVERIFY(appender.open(QIODevice::WriteOnly | QIODevice::Append));
    QVERIFY(appender.write("+more"));
    QCOMPARE(appender.close(), Ok);
    QCOMPARE(mPhone->content(path), QByteArray("old+more"));
    QVERIFY(QDir(mHome->filePath(u"VARUZ"_qs)).entryList(QDir::Files).isEmpty());

    MtpFile writer(*mSession, mPhone->storageId(), u"/VARUZ/synccomplete"_qs);
    QVERIFY(writer.open(QIODevice::WriteOnly));
    QVERIFY(writer.write("sync-complete"));
    mPhone->setPlugged(false);
    QCOMPARE(writer.close(), MtpConnection::Disconnected);
}

QTEST_GUILESS_MAIN(TestMtpFile)
#include "tst_mtpfile.moc"
