#include "blackberryimporter.h"

#include "backupresult.h"
#include "core/logger.h"
#include "exportwriter.h"

#include <QDir>

namespace {

const QString SmsDatabase = QStringLiteral("SMS Messages");
const QString AddressDatabase = QStringLiteral("Address Book - All");

struct ContactItem
{
    QString mElement;
    QString mType; // empty for a plain text element
    QString mValue;
    QList<std::pair<QString, QString>> mChildren;
};

quint64 littleNumber(const QByteArray &aBytes, qsizetype aFrom, int aSize)
{
    quint64 value = 0;
    for (int i = aSize - 1; i >= 0; --i)
        value = (value << 8) | quint8(aBytes.at(aFrom + i));
    return value;
}

QList<ContactItem> contactItems(const IpdFile::Record &aRecord)
{
    QList<ContactItem> items;
    for (const IpdFile::Field &field : aRecord.mFields) {
        if (field.mType != 10)
            continue;
        QStringList names;
        QList<std::pair<QString, QString>> home;
        QList<std::pair<QString, QString>> work;
        const QByteArray &data = field.mData;
        qsizetype pos = 0;
        while (data.size() - pos >= 3) {
            const qsizetype length = qsizetype(littleNumber(data, pos, 2));
            const quint8 type = quint8(data.at(pos + 2));
            pos += 3;
            if (length > data.size() - pos)
                break;
            const QString value = IpdFile::text(data.mid(pos, length));
            pos += length;
            const auto item = [&](const char *aElement, const char *aType) {
                items.append({QLatin1String(aElement), QLatin1String(aType), value, {}});
            };
            static const char *const addressParts[] = {"city", "state", "zip", "country"};
            switch (type) {
            case 1:
                item("email", "main");
                break;
            case 6:
            case 16:
                item("phone", "work");
                break;
            case 8:
            case 19:
                item("phone", "mobile");
                break;
            case 17:
                item("phone", "home");
                break;
            case 18:
                item("phone", "main");
                break;
            case 54:
                item("url", "homepage");
                break;
            case 33:
            case 42:
                item("organization", "");
                break;
            case 32:
                names.append(value);
                break;
            case 35:
            case 36:
                work.append({QStringLiteral("street"), value});
                break;
            case 38:
            case 39:
            case 40:
            case 41:
                work.append({QLatin1String(addressParts[type - 38]), value});
                break;
            case 61:
            case 62:
                home.append({QStringLiteral("street"), value});
                break;
            case 69:
            case 70:
            case 71:
            case 72:
                home.append({QLatin1String(addressParts[type - 69]), value});
                break;
            default:
                break;
            }
        }
        static const char *const nameElements[] = {"first_name", "middle_name", "last_name"};
        if (names.size() >= 3) {
            for (int i = 0; i < 3; ++i)
                items.append({QLatin1String(nameElements[i]), {}, names[i], {}});
        } else if (names.size() == 2) {
            items.append({QStringLiteral("first_name"), {}, names[0], {}});
            items.append({QStringLiteral("last_name"), {}, names[1], {}});
        } else if (names.size() == 1) {
            items.append({QStringLiteral("first_name"), {}, names[0], {}});
        }
        if (!home.isEmpty())
            items.append({QStringLiteral("address"), QStringLiteral("home"), {}, home});
        if (!work.isEmpty())
            items.append({QStringLiteral("address"), QStringLiteral("work"), {}, work});
    }
    return items;
}

} // namespace

int BlackberryImporter::writeMessages(const IpdFile &aFile, const QString &aOutput,
                                      ExportCounts &aCounts)
{
    ExportWriter writer(aOutput);
    if (!writer.open(QStringLiteral("messages")))
        return BackupResult::CannotOpenOutput;
    ExportCounts counts;
    if (const IpdFile::Database *database = aFile.database(SmsDatabase)) {
        for (const IpdFile::Record &record : database->mRecords) {
            const IpdFile::Field *fields[8] = {};
            for (const IpdFile::Field &field : record.mFields) {
                if (field.mType < 8)
                    fields[field.mType] = &field;
            }
            if (!fields[1] || !fields[2] || !fields[4] || !fields[7] || fields[1]->mData.isEmpty())
                continue;
            const QByteArray &header = fields[1]->mData;
            QByteArray addressBytes = fields[2]->mData;
            addressBytes.replace('\0', QByteArray());
            QString address = IpdFile::text(addressBytes);
            qsizetype skip = 0;
            while (skip < address.size() && address.at(skip).unicode() < 33)
                ++skip;
            address.remove(0, skip);
            const bool utf16 = !fields[7]->mData.isEmpty() && fields[7]->mData.at(0) == 2;
            const QString text =
                utf16 ? IpdFile::utf16Text(fields[4]->mData) : IpdFile::text(fields[4]->mData);
            // The first byte of the header field is 1 on a received message, 0 on a sent one.
            const bool sent = header.at(0) == 0;
            writer.startElement(sent ? QStringLiteral("sent_message")
                                     : QStringLiteral("received_message"));
            writer.textElement(QStringLiteral("address"), address);
            if (header.size() > 20)
                writer.textElement(QStringLiteral("date"),
                                   QString::number(littleNumber(header, 13, 8) / 1000));
            writer.textElement(QStringLiteral("text"), text);
            writer.endElement();
            ++(sent ? counts.mSent : counts.mReceived);
        }
    }
    if (!writer.commit())
        return BackupResult::CannotOpenOutput;
    aCounts.mSent += counts.mSent;
    aCounts.mReceived += counts.mReceived;
    return BackupResult::Success;
}

int BlackberryImporter::writeAddressBook(const IpdFile &aFile, const QString &aOutput,
                                         ExportCounts &aCounts)
{
    ExportWriter writer(aOutput);
    if (!writer.open(QStringLiteral("address_book")))
        return BackupResult::CannotOpenOutput;
    int people = 0;
    if (const IpdFile::Database *database = aFile.database(AddressDatabase)) {
        for (const IpdFile::Record &record : database->mRecords) {
            writer.startElement(QStringLiteral("person"));
            for (const ContactItem &item : contactItems(record)) {
                if (item.mType.isEmpty()) {
                    writer.textElement(item.mElement, item.mValue);
                    continue;
                }
                writer.startElement(item.mElement);
                writer.attribute(QStringLiteral("type"), item.mType);
                writer.attribute(QStringLiteral("value"), item.mValue);
                for (const auto &[name, text] : item.mChildren)
                    writer.textElement(name, text);
                writer.endElement();
            }
            writer.endElement();
            ++people;
        }
    }
    if (!writer.commit())
        return BackupResult::CannotOpenOutput;
    aCounts.mPeople += people;
    return BackupResult::Success;
}

BlackberryImporter::Result BlackberryImporter::importBlackberryBackup(const QString &aBackupFile,
                                                                      const QString &aOutputFolder,
                                                                      ExportCounts &aCounts)
{
    LogScope scope("BlackberryImporter::importBlackberryBackup");
    Logger &log = Logger::instance();
    log.value("aBackupFile", aBackupFile);
    Result result;
    QDir().mkpath(aOutputFolder);
    IpdFile file;
    result.mStatus = file.read(aBackupFile);
    if (result.mStatus == IpdFile::Status::CannotOpen || result.mStatus == IpdFile::Status::NotIpd)
        return result;
    const QDir folder(aOutputFolder);
    result.mMessagesCode = writeMessages(file, folder.filePath(u"messages.xml"_qs), aCounts);
    result.mAddressCode = writeAddressBook(file, folder.filePath(u"address.xml"_qs), aCounts);
    log.value("messages", result.mMessagesCode);
    log.value("address book", result.mAddressCode);
    return result;
}
