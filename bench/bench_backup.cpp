// Exports generated iOS 14-style message databases of 20,000 and 200,000 messages (or
// the databases named on the command line) and reports the time and the peak memory of
// each export.
#include "backup/exportcounts.h"
#include "backup/messageexporter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <iterator>

namespace {

constexpr int Sizes[] = {20000, 200000};
constexpr int Handles = 300;

bool generate(const QString &aPath, int aMessages)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"generator"_qs);
        db.setDatabaseName(aPath);
        ok = db.open();
        QSqlQuery query(db);
        const QStringList schema{
            u"CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT)"_qs,
            u"CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, chat_identifier TEXT)"_qs,
            u"CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER, "
            u"PRIMARY KEY (chat_id, message_id))"_qs,
            u"CREATE INDEX chat_message_join_idx_message_id ON chat_message_join(message_id)"_qs,
            u"CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT, "
            u"handle_id INTEGER, date INTEGER, is_from_me INTEGER)"_qs};
        for (const QString &statement : schema)
            ok = ok && query.exec(statement);
        ok = ok && db.transaction();
        for (int i = 1; ok && i <= Handles; ++i) {
            ok = query.exec(u"INSERT INTO handle (id) VALUES ('+4917%1')"_qs.arg(
                     i, 6, 10, QLatin1Char('0'))) &&
                 query.exec(u"INSERT INTO chat (chat_identifier) VALUES ('+4917%1')"_qs.arg(
                     i, 6, 10, QLatin1Char('0')));
        }
        QSqlQuery message(db);
        QSqlQuery join(db);
        ok = ok &&
             message.prepare(u"INSERT INTO message (text, handle_id, date, is_from_me) "
                             u"VALUES (?, ?, ?, ?)"_qs) &&
             join.prepare(u"INSERT INTO chat_message_join VALUES (?, ?)"_qs);
        for (int i = 1; ok && i <= aMessages; ++i) {
            const int handle = i % 10 == 0 ? 0 : i % Handles + 1; // some only reach a chat
            message.addBindValue(u"Message %1: see you at the station at half past six & bring "
                                 u"the <big> umbrella"_qs.arg(i));
            message.addBindValue(handle);
            message.addBindValue(600000000000000000LL + qint64(i) * 60000000000LL);
            message.addBindValue(i % 2);
            join.addBindValue(i % Handles + 1);
            join.addBindValue(i);
            ok = message.exec() && join.exec();
        }
        ok = ok && db.commit();
        if (!ok)
            std::fprintf(stderr, "generation failed: %s\n",
                         qPrintable(db.lastError().text() + query.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(u"generator"_qs);
    return ok;
}

// Peak resident memory in KiB since the last reset.
long peakKib()
{
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void resetPeak()
{
    QFile clear(u"/proc/self/clear_refs"_qs);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList databases = QCoreApplication::arguments().mid(1);
    for (int i = 0; databases.isEmpty() && i < int(std::size(Sizes)); ++i) {
        const QString database = dir.filePath(u"sms-%1.db"_qs.arg(Sizes[i]));
        if (!generate(database, Sizes[i]))
            return 1;
    }
    if (databases.isEmpty()) {
        for (const int size : Sizes)
            databases.append(dir.filePath(u"sms-%1.db"_qs.arg(size)));
    }
    for (const QString &database : std::as_const(databases)) {
        resetPeak();
        const long before = peakKib();
        ExportCounts counts;
        QElapsedTimer timer;
        timer.start();
        const int result =
            MessageExporter::write(database, dir.filePath(u"messages.xml"_qs), counts);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("%s: result %d, %d sent, %d received, %.2f s, peak memory %ld KiB "
                    "(%+ld KiB over the start)\n",
                    qPrintable(QFileInfo(database).fileName()), result, counts.mSent,
                    counts.mReceived, seconds, peakKib(), peakKib() - before);
    }
    return 0;
}
