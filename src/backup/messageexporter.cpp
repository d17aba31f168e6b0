#include "messageexporter.h"

#include "backupdatabase.h"
#include "backupresult.h"
#include "core/logger.h"
#include "exportwriter.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {
constexpr qint64 Seconds2001 = 978307200;
// Seconds since 2001 stay far below this for centuries; nanoseconds are far above.
constexpr qint64 NanosecondThreshold = 100000000000LL;
} // namespace

qint64 MessageExporter::unixSeconds(qint64 aValue, bool aSince2001)
{
    if (!aSince2001)
        return aValue;
    if (aValue > NanosecondThreshold || aValue < -NanosecondThreshold)
        aValue /= 1000000000;
    return aValue + Seconds2001;
}

// Columns: address, date, text, sent (0/1), date since 2001 (0/1).
QString MessageExporter::query(BackupDatabase &aDatabase)
{
    const QStringList columns = aDatabase.columns(QStringLiteral("message"));
    if (!columns.contains(u"date"_qs) || !columns.contains(u"text"_qs))
        return {};
    QStringList address;
    if (columns.contains(u"address"_qs))
        address.append(QStringLiteral("m.address"));
    QString from = QStringLiteral("message m");
    const bool handles = columns.contains(u"handle_id"_qs) && aDatabase.hasTable(u"handle"_qs);
    if (handles) {
        address.append(QStringLiteral("h.id"));
        from += QStringLiteral(" LEFT JOIN handle h ON h.ROWID = m.handle_id");
    }
    if (aDatabase.hasTable(u"chat_message_join"_qs) && aDatabase.hasTable(u"chat"_qs)) {
        if (aDatabase.hasIndexOn(u"chat_message_join"_qs, u"message_id"_qs)) {
            // Looked up only for messages without a handle, in constant memory.
            address.append(QStringLiteral(
                "(SELECT c.chat_identifier FROM chat_message_join j JOIN chat c ON c.ROWID = "
                "j.chat_id WHERE j.message_id = m.ROWID ORDER BY j.chat_id LIMIT 1)"));
        } else {
            // Without that index a lookup per message would scan the table each time.
            address.append(QStringLiteral("c.chat_identifier"));
            from += QStringLiteral(
                " LEFT JOIN (SELECT message_id, MIN(chat_id) AS chat_id FROM chat_message_join "
                "GROUP BY message_id) j ON j.message_id = m.ROWID "
                "LEFT JOIN chat c ON c.ROWID = j.chat_id");
        }
    }

    QString sent = QStringLiteral("0");
    const bool madrid = columns.contains(u"is_madrid"_qs) && columns.contains(u"madrid_flags"_qs);
    if (columns.contains(u"is_from_me"_qs))
        sent = QStringLiteral("m.is_from_me != 0");
    else if (madrid)
        // iOS 5 kept iMessages in the same table, their direction in madrid_flags.
        sent = QStringLiteral("CASE WHEN m.is_madrid = 1 THEN (m.madrid_flags & 4) != 0 "
                              "ELSE (m.flags & 1) != 0 END");
    else if (columns.contains(u"flags"_qs))
        sent = QStringLiteral("(m.flags & 1) != 0");

    // Before iOS 6 SMS dates were Unix seconds and iMessage dates counted from 2001.
    QString since2001 = QStringLiteral("1");
    if (!handles)
        since2001 = madrid ? QStringLiteral("m.is_madrid = 1") : QStringLiteral("0");

    const QString addressExpr = address.isEmpty() ? QStringLiteral("NULL")
                                : address.size() == 1
                                    ? address.first()
                                    : u"COALESCE("_qs + address.join(u", "_qs) + u')';
    return u"SELECT "_qs + addressExpr + u", m.date, m.text, "_qs + sent + u", "_qs + since2001 +
           u" FROM "_qs + from + u" ORDER BY m.ROWID"_qs;
}

int MessageExporter::write(const QString &aDatabase, const QString &aOutput, ExportCounts &aCounts)
{
    LogScope scope("MessageExporter::write");
    Logger &log = Logger::instance();
    log.value("aDatabase", aDatabase);
    BackupDatabase database(aDatabase);
    if (!database.open()) {
        log.text("Could not open database");
        log.value("error", database.error());
        return scope.ret(BackupResult::CannotOpenDatabase);
    }
    if (!database.isValid()) {
        log.text("Database is invalid");
        return scope.ret(BackupResult::InvalidDatabase);
    }
    const QString select = query(database);
    if (select.isEmpty()) {
        log.text("Database is invalid");
        return scope.ret(BackupResult::InvalidDatabase);
    }
    QSqlQuery rows(database.database());
    rows.setForwardOnly(true);
    if (!rows.exec(select)) {
        log.value("Selection error", rows.lastError().text());
        return scope.ret(BackupResult::QueryFailed);
    }
    ExportWriter writer(aOutput);
    if (!writer.open(QStringLiteral("messages"))) {
        log.text("Unable to open file");
        return scope.ret(BackupResult::CannotOpenOutput);
    }
    ExportCounts counts;
    while (rows.next()) {
        const bool sent = rows.value(3).toInt() != 0;
        writer.startElement(sent ? QStringLiteral("sent_message")
                                 : QStringLiteral("received_message"));
        const QVariant address = rows.value(0);
        if (!address.isNull())
            writer.textElement(QStringLiteral("address"), address.toString());
        const QVariant date = rows.value(1);
        if (!date.isNull())
            writer.textElement(
                QStringLiteral("date"),
                QString::number(unixSeconds(date.toLongLong(), rows.value(4).toInt() != 0)));
        const QVariant text = rows.value(2);
        if (!text.isNull())
            writer.textElement(QStringLiteral("text"), text.toString());
        writer.endElement();
        ++(sent ? counts.mSent : counts.mReceived);
    }
    if (rows.lastError().isValid()) {
        log.value("Selection error", rows.lastError().text());
        return scope.ret(BackupResult::QueryFailed);
    }
    if (!writer.commit()) {
        log.text("Unable to open file");
        return scope.ret(BackupResult::CannotOpenOutput);
    }
    aCounts.mSent += counts.mSent;
    aCounts.mReceived += counts.mReceived;
    log.value("sent", counts.mSent);
    log.value("received", counts.mReceived);
    return scope.ret(BackupResult::Success);
}
