#include "addressbookexporter.h"

#include "backupdatabase.h"
#include "backupresult.h"
#include "core/logger.h"
#include "exportwriter.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QVariant column(const QSqlQuery &aQuery, const QString &aName)
{
    const int index = aQuery.record().indexOf(aName);
    return index < 0 ? QVariant() : aQuery.value(index);
}

QString lookUp(const QString &aKey,
               std::initializer_list<std::pair<const char *, const char *>> aMap,
               const char *aOther)
{
    for (const auto &[from, to] : aMap) {
        if (aKey == QLatin1String(from))
            return QLatin1String(to);
    }
    return QLatin1String(aOther);
}

} // namespace

QString AddressBookExporter::propertyElement(const QString &aProperty)
{
    return lookUp(aProperty, {{"3", "phone"}, {"4", "email"}, {"5", "address"}, {"22", "url"}},
                  "unknown");
}

QString AddressBookExporter::labelType(const QString &aLabel)
{
    return lookUp(aLabel,
                  {{"_$!<Home>!$_", "home"},
                   {"_$!<Work>!$_", "work"},
                   {"_$!<HomePage>!$_", "homepage"},
                   {"_$!<Main>!$_", "main"},
                   {"_$!<Mobile>!$_", "mobile"}},
                  "");
}

QString AddressBookExporter::keyElement(const QString &aKey)
{
    return lookUp(aKey,
                  {{"Country", "country"},
                   {"Street", "street"},
                   {"ZIP", "zip"},
                   {"City", "city"},
                   {"CountryCode", "country_code"},
                   {"State", "state"}},
                  "unknown");
}

int AddressBookExporter::write(const QString &aDatabase, const QString &aOutput,
                               ExportCounts &aCounts)
{
    LogScope scope("AddressBookExporter::write");
    Logger &log = Logger::instance();
    log.value("aDatabase", aDatabase);
    BackupDatabase database(aDatabase);
    if (!database.open()) {
        log.text("Could not open database");
        log.value("error", database.error());
        return scope.ret(BackupResult::CannotOpenDatabase);
    }
    log.value("Opened database", aDatabase);
    if (!database.isValid()) {
        log.text("Invalid database");
        return scope.ret(BackupResult::InvalidDatabase);
    }
    QSqlQuery people(database.database());
    people.setForwardOnly(true);
    if (!people.exec(
            QStringLiteral("SELECT rowid AS person_rowid, * FROM ABPerson ORDER BY rowid"))) {
        log.value("Selection error", people.lastError().text());
        return scope.ret(BackupResult::QueryFailed);
    }
    QSqlQuery values(database.database());
    const bool valuesReady = values.prepare(QStringLiteral(
        "SELECT ABMultiValue.UID, ABMultiValue.property, ABMultiValue.value, "
        "ABMultiValueLabel.value FROM ABMultiValue LEFT OUTER JOIN ABMultiValueLabel "
        "ON ABMultiValue.label = ABMultiValueLabel.rowid WHERE ABMultiValue.record_id = :rowid "
        "ORDER BY ABMultiValue.UID"));
    if (!valuesReady)
        log.value("SQL Prepare Error", values.lastError().text());
    QSqlQuery entries(database.database());
    const bool entriesReady = entries.prepare(QStringLiteral(
        "SELECT ABMultiValueEntry.value, ABMultiValueEntryKey.value FROM ABMultiValueEntry "
        "LEFT OUTER JOIN ABMultiValueEntryKey ON ABMultiValueEntry.key = "
        "ABMultiValueEntryKey.rowid WHERE ABMultiValueEntry.parent_id = :uid "
        "ORDER BY ABMultiValueEntry.rowid"));
    if (!entriesReady)
        log.value("SQL prepare error 2", entries.lastError().text());

    ExportWriter writer(aOutput);
    if (!writer.open(QStringLiteral("address_book"))) {
        log.text("Unable to open XML file");
        return scope.ret(BackupResult::CannotOpenOutput);
    }
    int count = 0;
    while (people.next()) {
        writer.startElement(QStringLiteral("person"));
        static const std::pair<const char *, const char *> names[] = {
            {"first", "first_name"},
            {"middle", "middle_name"},
            {"last", "last_name"},
            {"organization", "organization"}};
        for (const auto &[from, to] : names) {
            const QVariant value = column(people, QLatin1String(from));
            if (!value.isNull())
                writer.textElement(QLatin1String(to), value.toString());
        }
        values.bindValue(QStringLiteral(":rowid"), people.value(0));
        if (valuesReady && !values.exec())
            log.value("SQL Query Error", values.lastError().text());
        while (valuesReady && values.isActive() && values.next()) {
            if (values.value(1).isNull())
                continue;
            writer.startElement(propertyElement(values.value(1).toString()));
            writer.attribute(QStringLiteral("type"), labelType(values.value(3).toString()));
            writer.attribute(QStringLiteral("value"), values.value(2).toString());
            entries.bindValue(QStringLiteral(":uid"), values.value(0));
            if (entriesReady && !entries.exec())
                log.value("SQL query error 2", entries.lastError().text());
            while (entriesReady && entries.isActive() && entries.next())
                writer.textElement(keyElement(entries.value(1).toString()),
                                   entries.value(0).toString());
            writer.endElement();
        }
        writer.endElement();
        ++count;
    }
    if (!writer.commit()) {
        log.text("Unable to open XML file");
        return scope.ret(BackupResult::CannotOpenOutput);
    }
    aCounts.mPeople += count;
    log.value("people", count);
    return scope.ret(BackupResult::Success);
}
