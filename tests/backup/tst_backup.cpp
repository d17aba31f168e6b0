// The old phone's data: backup discovery, unpacking, the two exports and the BlackBerry reader,
// on the real sample files where they exist and on small generated backups for the other shapes.
#include "backup/addressbookexporter.h"
#include "backup/appleextractor.h"
#include "backup/backupfinder.h"
#include "backup/blackberryimporter.h"
#include "backup/messageexporter.h"
#include "backup/phonedataexport.h"
#include "testhome.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

QByteArray readFile(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &aPath, const QByteArray &aBytes)
{
    QDir().mkpath(QFileInfo(aPath).path());
    QFile file(aPath);
    return file.open(QIODevice::WriteOnly) && file.write(aBytes) == aBytes.size();
}

bool execute(const QString &aDatabase, const QStringList &aStatements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"generator"_qs);
        db.setDatabaseName(aDatabase);
        ok = db.open();
        QSqlQuery query(db);
        for (const QString &statement : aStatements) {
            if (ok && !query.exec(statement)) {
                qWarning() << statement << query.lastError().text();
                ok = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(u"generator"_qs);
    return ok;
}

QString fileId(const QString &aDomain, const QString &aPath)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((aDomain + u'-' + aPath).toUtf8(), QCryptographicHash::Sha1)
            .toHex());
}

// Rows of a Manifest.db: domain, relative path, flags; the data file is written for flags 1.
struct ManifestRow
{
    QString mDomain, mPath;
    int mFlags = 1;
    QString mId = {};
    bool mData = true;
};

bool writeManifestDb(const QString &aBackup, const QList<ManifestRow> &aRows)
{
    QStringList sql{u"CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath "
                    u"TEXT, flags INTEGER, file BLOB)"_qs};
    for (const ManifestRow &row : aRows) {
        const QString id = row.mId.isEmpty() ? fileId(row.mDomain, row.mPath) : row.mId;
        sql.append(u"INSERT INTO Files VALUES ('%1', '%2', '%3', %4, NULL)"_qs
                       .arg(id, row.mDomain, row.mPath)
                       .arg(row.mFlags));
        if (row.mFlags == 1 && row.mData && row.mId.isEmpty() &&
            !writeFile(aBackup + u'/' + id.left(2) + u'/' + id, row.mPath.toUtf8()))
            return false;
    }
    return execute(aBackup + u"/Manifest.db"_qs, sql);
}

QByteArray mbdbString(const QByteArray &aText)
{
    const quint16 size = quint16(aText.size());
    return QByteArray(1, char(size >> 8)) + char(size & 0xFF) + aText;
}

// An iOS 4-9 backup: Manifest.mbdb and the data files named by the SHA-1 of "domain-path".
bool writeMbdb(const QString &aBackup, const QList<ManifestRow> &aRows)
{
    QByteArray mbdb("mbdb\x05\x00", 6);
    for (const ManifestRow &row : aRows) {
        const quint16 mode = row.mFlags == 1 ? 0x81A4 : 0x41ED;
        mbdb += mbdbString(row.mDomain.toUtf8()) + mbdbString(row.mPath.toUtf8()) +
                QByteArray(6, '\xFF') + char(mode >> 8) + char(mode & 0xFF) +
                QByteArray(8 + 4 * 5 + 8 + 1, '\0') + '\1' + mbdbString("k") + mbdbString("v");
        if (row.mFlags == 1 && row.mData &&
            !writeFile(aBackup + u'/' + fileId(row.mDomain, row.mPath), row.mPath.toUtf8()))
            return false;
    }
    return writeFile(aBackup + u"/Manifest.mbdb"_qs, mbdb);
}

QByteArray plist(const QString &aBody)
{
    return (u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"_qs +
            aBody + u"</dict></plist>\n"_qs)
        .toUtf8();
}

QByteArray little(quint64 aValue, int aBytes)
{
    QByteArray bytes;
    for (int i = 0; i < aBytes; ++i)
        bytes += char((aValue >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray ipdField(int aType, const QByteArray &aData)
{
    return little(quint64(aData.size()), 2) + char(aType) + aData;
}

QByteArray ipdRecord(int aDatabase, const QByteArray &aFields)
{
    return little(quint64(aDatabase), 2) + little(quint64(aFields.size() + 7), 4) +
           QByteArray(7, '\1') + aFields;
}

QByteArray ipd(const QStringList &aNames, const QByteArray &aRecords)
{
    QByteArray file("Inter@ctive Pager Backup/Restore File\n\x02", 39);
    file += char(aNames.size() >> 8);
    file += char(aNames.size() & 0xFF);
    file += '\0';
    for (const QString &name : aNames)
        file += little(quint64(name.size() + 1), 2) + name.toUtf8() + '\0';
    return file + aRecords;
}

// An SMS record: byte 0 of the header is 1 on a received message, the time at bytes 13-20.
QByteArray smsRecord(int aDatabase, bool aReceived, const QByteArray &aText, bool aUtf16 = false)
{
    QByteArray header(30, '\0');
    header[0] = aReceived ? 1 : 0;
    header.replace(13, 8, little(1300000000123ULL, 8));
    return ipdRecord(aDatabase, ipdField(1, header) +
                                    ipdField(2, QByteArray("\0\0+4917\0"
                                                           "1",
                                                           9)) +
                                    ipdField(4, aText) +
                                    ipdField(7, QByteArray(1, aUtf16 ? 2 : 0)));
}

QString contactSub(int aType, const QByteArray &aValue)
{
    const QByteArray bytes = little(quint64(aValue.size() + 1), 2) + char(aType) + aValue + '\0';
    return QString::fromLatin1(bytes.toHex());
}

// An export with the indentation between elements taken out.
QString compact(const QString &aFile)
{
    return QString::fromUtf8(readFile(aFile)).replace(QRegularExpression(u">\\s+<"_qs), u"><"_qs);
}

QStringList filesBelow(const QString &aFolder)
{
    QStringList files;
    QDirIterator it(aFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(aFolder.size() + 1));
    files.sort();
    return files;
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { mHome = std::make_unique<TestHome>(); }
    void cleanup() { mHome.reset(); }
    void deviceName_data();
    void deviceName();
    void unpack_data();
    void unpack();
    void fileList();
    void messages_data();
    void messages();
    void addressBook();
    void blackberry_data();
    void blackberry();
    void phoneDataExport();

private:
    QString path(const QString &aName) const { return mHome->filePath(aName); }
    std::unique_ptr<TestHome> mHome;
};

void TestBackup::deviceName_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("name");
    const QByteArray real = readFile(TestHome::realTestData(u"ios-backup/mvt-ios14/Info.plist"_qs));
    if (!real.isEmpty()) {
        QTest::newRow("real binary") << real << u"iPhone"_qs;
        QTest::newRow("binary cut short") << real.left(real.size() - 40) << QString();
        QByteArray loop = real;
        loop[loop.size() - 9] = char(0x30); // the offset table starts inside the trailer
        QTest::newRow("binary table past its end") << loop << QString();
    }
    QTest::newRow("xml") << plist(u"<key>Build Version</key><string>9B206</string>"
                                  u"<key>Display Name</key><string>Anna &amp; Co</string>"_qs)
                         << u"Anna & Co"_qs;
    QTest::newRow("key without string")
        << plist(u"<key>Display Name</key><key>Other</key><string>x</string>"_qs) << QString();
    QTest::newRow("not a plist") << QByteArray("<html/>") << QString();
}

void TestBackup::deviceName()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, name);
    QVERIFY(writeFile(path(u"b/Info.plist"_qs), contents));
    QCOMPARE(BackupFinder::getDeviceNameFromInfoPlist(path(u"b/Info.plist"_qs)), name);
}

void TestBackup::unpack_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("photos");
    QTest::addColumn<bool>("messages");
    using S = BackupUnpacker::Status;
    const QStringList taken{u"/100APPLE/IMG_0001.HEIC"_qs, u"/100APPLE/IMG_0002.MOV"_qs};
    QTest::newRow("iOS 10+ manifest") << u"db"_qs << int(S::Ok) << taken << true;
    QTest::newRow("iOS 4-9 mbdb") << u"mbdb"_qs << int(S::Ok) << taken << true;
    QTest::newRow("data file missing")
        << u"db missing"_qs << int(S::MissingDataFile) << QStringList{taken.at(1)} << true;
    QTest::newRow("encrypted (Manifest.plist)")
        << u"encrypted"_qs << int(S::Encrypted) << QStringList() << false;
    QTest::newRow("encrypted (ciphertext manifest)")
        << u"cipher"_qs << int(S::Encrypted) << QStringList() << false;
    QTest::newRow("iOS 3 layout") << u"ios3"_qs << int(S::TooOld) << QStringList() << false;
    QTest::newRow("no manifest") << u"none"_qs << int(S::NoManifest) << QStringList() << false;
    QTest::newRow("cut mbdb") << u"cut"_qs << int(S::ManifestUnreadable) << QStringList() << false;
    QTest::newRow("not a backup") << u"empty"_qs << int(S::NotABackup) << QStringList() << false;
    if (!TestHome::realTestData(u"ios-backup/mvt-ios14/Manifest.db.gz"_qs).isEmpty())
        QTest::newRow("real iOS 14, photo files absent")
            << u"real"_qs << int(S::MissingDataFile) << QStringList() << true;
}

void TestBackup::unpack()
{
    QFETCH(QString, shape);
    QFETCH(int, status);
    QFETCH(QStringList, photos);
    QFETCH(bool, messages);
    const QString backup = path(u"backup"_qs);
    const QString sms = u"Library/SMS/sms.db"_qs;
    const QString roll = u"CameraRollDomain"_qs;
    const QList<ManifestRow> rows{
        {u"HomeDomain"_qs, sms},
        {u"HomeDomain"_qs, u"Library/Notes/notes.sqlite"_qs},
        {roll, u"Media/DCIM/100APPLE"_qs, 2},
        {roll, u"Media/DCIM/100APPLE/IMG_0001.HEIC"_qs, 1, {}, shape != u"db missing"},
        {roll, u"Media/DCIM/100APPLE/IMG_0002.MOV"_qs},
        {roll, u"Media/DCIM/.MISC/Info.plist"_qs},
        {roll, u"Media/DCIM/../../../escaped.JPG"_qs},
        {roll, u"Media/DCIM/100APPLE/IMG_0003.JPG"_qs, 1, u"../../outside"_qs},
    };
    QVERIFY(QDir().mkpath(backup));
    QVERIFY(writeFile(path(u"outside"_qs), "not from the backup"));
    if (shape != u"empty")
        QVERIFY(writeFile(backup + u"/Info.plist"_qs, plist({})));
    if (shape.startsWith(u"db"))
        QVERIFY(writeManifestDb(backup, rows));
    else if (shape == u"mbdb" || shape == u"cut")
        QVERIFY(writeMbdb(backup, rows.mid(0, 7)));
    if (shape == u"cut")
        QVERIFY(writeFile(backup + u"/Manifest.mbdb"_qs,
                          readFile(backup + u"/Manifest.mbdb"_qs).chopped(5)));
    if (shape == u"encrypted") {
        QVERIFY(writeManifestDb(backup, rows));
        QVERIFY(
            writeFile(backup + u"/Manifest.plist"_qs, plist(u"<key>IsEncrypted</key><true/>"_qs)));
    }
    if (shape == u"cipher")
        QVERIFY(writeFile(backup + u"/Manifest.db"_qs, QByteArray(4096, '\x5A')));
    if (shape == u"ios3")
        QVERIFY(writeFile(backup + u"/0a1b.mdinfo"_qs, "bplist00"));
    if (shape == u"real") {
        const QString real = TestHome::realTestData(u"ios-backup/mvt-ios14"_qs);
        QProcess gunzip;
        gunzip.setStandardOutputFile(backup + u"/Manifest.db"_qs);
        gunzip.start(u"gunzip"_qs, {u"-c"_qs, real + u"/Manifest.db.gz"_qs});
        QVERIFY(gunzip.waitForFinished() && gunzip.exitCode() == 0);
        const QString id = u"3d0d7e5fb2ce288813306e4d4636395e047a3d28"_qs;
        QVERIFY(QDir().mkpath(backup + u"/3d"_qs));
        QVERIFY(QFile::copy(real + u"/3d/"_qs + id, backup + u"/3d/"_qs + id));
    }

    const QString extraction = path(u"VARUZ/extracted"_qs);
    QVERIFY(writeFile(extraction + u"/messages.xml"_qs, "<messages>stale</messages>"));
    AppleExtractor extractor;
    QCOMPARE(int(extractor.extractFromManifest(backup, extraction)), status);
    const ExtractedBackup &got = extractor.extracted();
    QCOMPARE(!got.messagesDatabase.isEmpty(), messages);
    QStringList destinations;
    for (const BackupPhoto &photo : got.photos) {
        destinations.append(photo.mDestPhotoPath);
        QCOMPARE(readFile(photo.mSourceName),
                 QString(u"Media/DCIM"_qs + photo.mDestPhotoPath).toUtf8());
    }
    QCOMPARE(destinations, photos);
    // Only what was unpacked now is there; nothing was written outside the folder.
    const QStringList files = filesBelow(extraction);
    QVERIFY2(!files.contains(u"messages.xml"_qs), qPrintable(files.join(u' ')));
    if (!messages)
        QCOMPARE(files, QStringList());
    QVERIFY(!QFileInfo::exists(path(u"escaped.JPG"_qs)));
    QVERIFY(!QFileInfo::exists(path(u"VARUZ/escaped.JPG"_qs)));
    if (messages && shape != u"real")
        QCOMPARE(readFile(got.messagesDatabase), sms.toUtf8());
}

// The file list as the extractor reads it: back slashes, the four-part form, an odd last
// line, and paths that would leave the extraction folder.
void TestBackup::fileList()
{
    const QString extraction = path(u"x"_qs);
    QVERIFY(writeFile(extraction + u"/a/sms.db"_qs, "a") && writeFile(extraction + u"/b"_qs, "b") &&
            writeFile(extraction + u"/c.JPG"_qs, "c") && writeFile(path(u"secret.db"_qs), "s"));
    QVERIFY(QFile::link(path(u"secret.db"_qs), extraction + u"/link.db"_qs));
    const QString list = u"X/a/sms.db\nHomeDomain/Library/SMS/sms.db\n"
                         u"X/b\nLibrary\\\\AddressBook\\\\AddressBook.sqlitedb\n"
                         u"X/../secret.db\nLibrary/SMS/sms.db\n"
                         u"X/link.db\nLibrary/SMS/sms.db\n"
                         u"X/c.JPG\nMedia\\\\DCIM\\\\100APPLE\\\\c.JPG\n"
                         u"X/c.JPG\nMedia/DCIM\n"
                         u"X/c.JPG"_qs;
    QVERIFY(writeFile(extraction + u"/backup_file_list"_qs,
                      QString(list).replace(u"X/"_qs, extraction + u'/').toUtf8()));
    AppleExtractor extractor;
    extractor.readFileList(extraction);
    const ExtractedBackup &got = extractor.extracted();
    QCOMPARE(got.messagesDatabase, QString());
    QCOMPARE(got.addressBookDatabase, extraction + u"/b"_qs);
    QCOMPARE(got.photos.size(), 1);
    QCOMPARE(got.photos.at(0).mDestPhotoPath, u"/100APPLE/c.JPG"_qs);
}

void TestBackup::messages_data()
{
    QTest::addColumn<QString>("database"); // a real file, or "generated ..."
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("received");
    QTest::addColumn<QString>("first");
    const QString ios13 = TestHome::realTestData(u"ios-backup/ctf-ios13/sms.db"_qs);
    if (!ios13.isEmpty())
        QTest::newRow("real iOS 13") << ios13 << 51 << 54
                                     << u"<received_message><address>22000</address><date>"
                                        u"1577386237</date><text>G-680228 is your Google "
                                        u"verification code.</text></received_message>"_qs;
    const QString ios14 = TestHome::realTestData(
        u"ios-backup/mvt-ios14/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28"_qs);
    if (!ios14.isEmpty())
        QTest::newRow("real iOS 14") << ios14 << 0 << 1
                                     << u"<received_message><address>apple</address><date>"
                                        u"1567120410</date><text>Please click here "
                                        u"https://badbadbad.example.org/</text>"
                                        u"</received_message>"_qs;
    // iOS 4: the address and flags columns, Unix dates; a NULL text has no element.
    QTest::newRow("iOS 4") << u"generated ios4"_qs << 1 << 1
                           << u"<received_message><address>+4917</address><date>1300000000"
                              u"</date></received_message>"_qs;
    // iOS 5: SMS as on iOS 4, iMessages with dates since 2001 and their direction in madrid_flags.
    // iOS 6 on, no index on chat_message_join.message_id: a message without a handle takes
    // the chat's identifier; dates in seconds since 2001.
    QTest::newRow("iOS 6, group chat") << u"generated ios6"_qs << 1 << 1
                                       << u"<sent_message><address>chat42</address><date>"
                                          u"1300000000</date><text>all</text></sent_message>"_qs;
    QTest::newRow("iOS 5") << u"generated ios5"_qs << 2 << 1
                           << u"<sent_message><address>+4917</address><date>1300000000</date>"
                              u"<text>ab</text></sent_message>"_qs;
}

void TestBackup::messages()
{
    QFETCH(QString, database);
    QFETCH(int, sent);
    QFETCH(int, received);
    QFETCH(QString, first);
    // A private copy: the real folder is read-only, which would hide a stray -wal or -shm file.
    const QString copy = path(u"db/sms.db"_qs);
    QVERIFY(QDir().mkpath(path(u"db"_qs)));
    if (database == u"generated ios4") {
        QVERIFY(execute(copy, {u"CREATE TABLE message (ROWID INTEGER PRIMARY KEY, address TEXT, "
                               u"date INTEGER, text TEXT, flags INTEGER)"_qs,
                               u"INSERT INTO message VALUES (1, '+4917', 1300000000, NULL, 2)"_qs,
                               u"INSERT INTO message VALUES (2, '+4917', 1300000100, "
                               u"'a' || char(1) || 'b', 3)"_qs}));
    } else if (database == u"generated ios6") {
        QVERIFY(execute(copy, {u"CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT)"_qs,
                               u"CREATE TABLE chat (ROWID INTEGER PRIMARY KEY, chat_identifier "
                               u"TEXT)"_qs,
                               u"CREATE TABLE chat_message_join (chat_id INTEGER, message_id "
                               u"INTEGER, PRIMARY KEY (chat_id, message_id))"_qs,
                               u"CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, "
                               u"handle_id INTEGER, date INTEGER, is_from_me INTEGER)"_qs,
                               u"INSERT INTO handle VALUES (1, '+4917')"_qs,
                               u"INSERT INTO chat VALUES (5, 'chat42')"_qs,
                               u"INSERT INTO chat_message_join VALUES (5, 1), (5, 2)"_qs,
                               u"INSERT INTO message VALUES (1, 'all', 0, 321692800, 1)"_qs,
                               u"INSERT INTO message VALUES (2, 'b', 1, 321692900, 0)"_qs}));
    } else if (database == u"generated ios5") {
        QVERIFY(
            execute(copy, {u"CREATE TABLE message (ROWID INTEGER PRIMARY KEY, address TEXT, "
                           u"date INTEGER, text TEXT, flags INTEGER, is_madrid INTEGER, "
                           u"madrid_flags INTEGER, madrid_handle TEXT)"_qs,
                           u"INSERT INTO message VALUES (1, '+4917', 1300000000, 'ab', 3, 0, 0, "
                           u"NULL)"_qs,
                           u"INSERT INTO message VALUES (2, NULL, 321692800, 'c', 0, 1, 36869, "
                           u"'x@y')"_qs,
                           u"INSERT INTO message VALUES (3, NULL, 321692900, 'd', 0, 1, 12289, "
                           u"'x@y')"_qs}));
    } else {
        QVERIFY(QFile::copy(database, copy));
    }
    const QByteArray before = readFile(copy);
    ExportCounts counts;
    const QString output = path(u"out/messages.xml"_qs);
    QVERIFY(QDir().mkpath(path(u"out"_qs)));
    QCOMPARE(MessageExporter::write(copy, output, counts), 0);
    QCOMPARE(counts.mSent, sent);
    QCOMPARE(counts.mReceived, received);
    const QString text = QString::fromUtf8(readFile(output));
    QCOMPARE(text.count(u"<sent_message>"_qs), sent);
    QCOMPARE(text.count(u"<received_message>"_qs), received);
    const QString firstMessage = compact(output).section(u"<messages>"_qs, 1);
    QVERIFY2(firstMessage.startsWith(first), qPrintable(firstMessage.left(300)));
    QVERIFY(!text.contains(QChar(1)));
    QCOMPARE(filesBelow(path(u"db"_qs)), QStringList{u"sms.db"_qs});
    QVERIFY(readFile(copy) == before);
    // A missing database is reported, never created.
    QCOMPARE(MessageExporter::write(path(u"db/none.db"_qs), output, counts), -12000);
    QVERIFY(!QFileInfo::exists(path(u"db/none.db"_qs)));
}

void TestBackup::addressBook()
{
    const QString real = TestHome::realTestData(u"ios-backup/sumtwelve/AddressBook.sqlitedb"_qs);
    if (real.isEmpty())
        QSKIP("the real sample files are not beside the repository");
    ExportCounts counts;
    const QString output = path(u"address.xml"_qs);
    QCOMPARE(AddressBookExporter::write(real, output, counts), 0);
    QCOMPARE(counts.mPeople, 6);
    const QString text = compact(output);
    QVERIFY2(text.contains(u"<person><first_name>Tracy</first_name><last_name>Sumtwelve</last_name>"
                           u"<email type=\"home\" value=\"tracysumtwelve@gmail.com\"/>"
                           u"<address type=\"home\" value=\"\"><country>United States</country>"
                           u"<country_code>us</country_code><state>DC</state></address>"
                           u"</person>"_qs),
             qPrintable(text));
    QVERIFY(text.contains(u"<person><organization>Apple Inc.</organization>"
                          u"<phone type=\"main\" value=\"1-800-MY-APPLE\"/>"
                          u"<address type=\"work\" value=\"\"><country>United States</country>"
                          u"<street>1 Infinite Loop</street><zip>95014</zip><city>Cupertino</city>"
                          u"<country_code>us</country_code><state>CA</state></address>"
                          u"<url type=\"homepage\" value=\"http://www.apple.com\"/></person>"_qs));
    QCOMPARE(text.count(u"<person>"_qs), 6);
}

void TestBackup::blackberry_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("received");
    QTest::addColumn<QString>("fragment"); // in messages.xml, or address.xml for a person
    using S = IpdFile::Status;
    const QByteArray sample = readFile(TestHome::realTestData(u"blackberry-ipd/Sample.ipd"_qs));
    if (!sample.isEmpty()) {
        // The three messages of the sample were received (the sample's own export says so).
        QTest::newRow("real sample") << sample << int(S::Ok) << 0 << 3
                                     << u"<received_message><address>+8613725573137</address>"
                                        u"<date>1141885846</date><text>qwerty111</text>"
                                        u"</received_message>"_qs;
        QTest::newRow("real, 8-bit Greek text read as Latin-1")
            << readFile(TestHome::realTestData(u"blackberry-ipd/Sample_withGrChars.ipd"_qs))
            << int(S::Ok) << 0 << 3
            << u"<text>\u00e1\u00e2\u00e3\u00e4\u00e5\u00e6\u00e712</text>"_qs;
        QTest::newRow("cut inside the last record")
            << sample.left(sample.size() - 5) << int(S::Damaged) << 0 << 2 << u"qwerty111"_qs;
        QByteArray overrun = sample;
        overrun[0x47] = '\x7F'; // the first record's first field claims more than its record
        QTest::newRow("field overruns its record")
            << overrun << int(S::Damaged) << 0 << 2 << u"<text>asdfgh222</text>"_qs;
        QTest::newRow("record below the minimum, then an unknown database")
            << QByteArray(sample + little(0, 2) + little(3, 4) + "abc" +
                          ipdRecord(7, ipdField(4, "zz")))
            << int(S::Damaged) << 0 << 3 << u"asdfgh222"_qs;
        QByteArray separator = sample;
        separator[0x29] = 1;
        QTest::newRow("separator not 0") << separator << int(S::NotIpd) << 0 << 0 << QString();
    }
    QTest::newRow("no header line")
        << QByteArray("\x02\x00\x01\x00", 4) << int(S::NotIpd) << 0 << 0 << QString();
    const QStringList names{u"SMS Messages"_qs, u"Address Book - All"_qs};
    QTest::newRow("sent, UTF-16 of odd length")
        << ipd(names, smsRecord(0, false, QByteArray("\0h\0i\0", 5), true) +
                          smsRecord(0, true, "\xff\xfe"))
        << int(S::Ok) << 1 << 1
        << u"<sent_message><address>+49171</address><date>1300000000</date><text>hi</text>"
           u"</sent_message><received_message><address>+49171</address><date>1300000000</date>"
           u"<text>\u00ff\u00fe</text></received_message>"_qs;
    const QByteArray contact = QByteArray::fromHex(
        (contactSub(32, "John") + contactSub(32, "Smith") + contactSub(8, "+4917") +
         contactSub(38, "Bonn") + contactSub(61, "Main St") + contactSub(50, "skipped"))
            .toLatin1());
    QTest::newRow("contact, no SMS database")
        << ipd({u"Tasks"_qs, u"Address Book - All"_qs},
               ipdRecord(1, ipdField(10, contact + QByteArray("\xC8\x00\x20", 3))) +
                   ipdRecord(1, ipdField(3, "x")))
        << int(S::Ok) << 0 << 0
        << u"<person><phone type=\"mobile\" value=\"+4917\"/><first_name>John</first_name>"
           u"<last_name>Smith</last_name><address type=\"home\" value=\"\"><street>Main St"
           u"</street></address><address type=\"work\" value=\"\"><city>Bonn</city></address>"
           u"</person><person/>"_qs;
}

void TestBackup::blackberry()
{
    QFETCH(QByteArray, file);
    QFETCH(int, status);
    QFETCH(int, sent);
    QFETCH(int, received);
    QFETCH(QString, fragment);
    QVERIFY(writeFile(path(u"old.ipd"_qs), file));
    ExportCounts counts;
    const QString out = path(u"out"_qs);
    const BlackberryImporter::Result result =
        BlackberryImporter::importBlackberryBackup(path(u"old.ipd"_qs), out, counts);
    QCOMPARE(int(result.mStatus), status);
    QCOMPARE(counts.mSent, sent);
    QCOMPARE(counts.mReceived, received);
    QVERIFY(QFileInfo(out).isDir());
    const bool written = status != int(IpdFile::Status::NotIpd);
    const QStringList both{u"address.xml"_qs, u"messages.xml"_qs};
    QCOMPARE(filesBelow(out), written ? both : QStringList());
    const QString text = compact(out + u"/messages.xml"_qs) + compact(out + u"/address.xml"_qs);
    QVERIFY2(text.contains(fragment), qPrintable(text));
    if (written && !fragment.startsWith(u"<person>"))
        QVERIFY(text.contains(u"<address_book/>"_qs));
}

// The step's preparation: what the path is, a working folder cleared of an earlier run's
// files and kept private, and each item that could not be made named.
void TestBackup::phoneDataExport()
{
    const QString work = path(u"VARUZ/extracted"_qs);
    QVERIFY(writeFile(work + u"/messages.xml"_qs, "<messages>stale</messages>"));
    QVERIFY(writeFile(path(u"old.IPD"_qs), ipd({u"SMS Messages"_qs}, smsRecord(0, true, "hi"))));
    QVERIFY(QDir().mkpath(path(u"photos"_qs)));
    QVERIFY(writeFile(path(u"backup/Info.plist"_qs), plist({})));
    QVERIFY(writeManifestDb(path(u"backup"_qs),
                            {{u"HomeDomain"_qs, u"Library/AddressBook/AddressBook.sqlitedb"_qs},
                             {u"HomeDomain"_qs, u"Library/SMS/sms.db"_qs, 1, {}, false}}));
    QCOMPARE(PhoneDataExport::kindOf(path(u"nothing"_qs)), PhoneDataExport::Kind::Missing);

    PhoneDataExport::Result result =
        PhoneDataExport::run(path(u"photos"_qs), work, PhoneDataExport::Everything);
    QCOMPARE(result.mDone, 0);
    QVERIFY(result.mFailures.value(0).contains(u"neither an iPhone backup"_qs));
    QCOMPARE(filesBelow(work), QStringList());
    QCOMPARE(QFileInfo(work).permissions() & 0x0077, QFileDevice::Permissions());

    // The messages database is listed but missing; the address book is not a database.
    result = PhoneDataExport::run(path(u"backup"_qs), work,
                                  PhoneDataExport::Messages | PhoneDataExport::Contacts);
    QCOMPARE(result.mDone, 0);
    QCOMPARE(result.mFailures.size(), 2);
    QVERIFY(result.mFailures.at(0).contains(u"lacks its file"_qs));
    QVERIFY(!QFileInfo::exists(work + u"/messages.xml"_qs));

    result = PhoneDataExport::run(path(u"old.IPD"_qs), work, PhoneDataExport::Everything);
    QCOMPARE(result.mDone, PhoneDataExport::Messages | PhoneDataExport::Contacts);
    QCOMPARE(result.mCounts.mReceived, 1);
    QVERIFY(PhoneDataExport::clearWorkFolder(work));
    QVERIFY(!QFileInfo::exists(work));
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
