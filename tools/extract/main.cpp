// mobrelay-extract: unpacks the messages database, the address book and the
// camera-roll files of an iTunes backup and lists them in "backup_file_list".
#include "backup/backupunpacker.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() != 2) {
        std::fputs("Usage: mobrelay-extract BACKUP_FOLDER EXTRACTION_FOLDER\n", stderr);
        return 64;
    }
    const QDir extraction(arguments.at(1));
    // Never unpack over something else: the caller clears the folder.
    if (extraction.exists() && !extraction.isEmpty()) {
        std::fprintf(stderr, "mobrelay-extract: %s is not empty\n",
                     QFile::encodeName(arguments.at(1)).constData());
        return 73;
    }
    BackupUnpacker unpacker;
    const BackupUnpacker::Status status = unpacker.unpack(arguments.at(0), arguments.at(1));
    const QString message =
        BackupUnpacker::describe(status) +
        (unpacker.detail().isEmpty() ? QString() : QStringLiteral(": ") + unpacker.detail());
    std::fprintf(status == BackupUnpacker::Status::Ok ? stdout : stderr, "mobrelay-extract: %s\n",
                 message.toUtf8().constData());
    switch (status) {
    case BackupUnpacker::Status::Ok:
        return 0;
    case BackupUnpacker::Status::MissingDataFile:
        return 1;
    case BackupUnpacker::Status::CannotWrite:
        return 73;
    default:
        return 65;
    }
}
