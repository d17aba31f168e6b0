#include "syncclioptions.h"

#include "phonefinder.h"

#include <limits>

namespace {

bool parseOnOff(const QString &aValue, bool &aResult)
{
    if (aValue == QLatin1String("on")) {
        aResult = true;
        return true;
    }
    if (aValue == QLatin1String("off")) {
        aResult = false;
        return true;
    }
    return false;
}

bool parseSelection(const QString &aValue, SyncCliOptions::Selection &aSelection)
{
    aSelection = {};
    if (aValue == QLatin1String("all")) {
        aSelection.mAll = true;
        return true;
    }
    if (aValue == QLatin1String("none"))
        return true;
    const QStringList names = aValue.split(QLatin1Char(','));
    for (const QString &name : names) {
        if (name.isEmpty())
            return false;
        aSelection.mNames.append(name);
    }
    return true;
}

bool parseCount(const QString &aValue, qint64 aMax, qint64 &aResult)
{
    bool ok = false;
    aResult = aValue.toLongLong(&ok);
    return ok && aResult >= 0 && aResult <= aMax;
}

} // namespace

QString SyncCliOptions::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  mobrelay-sync [--library FILE] [--wait SECONDS] playlists\n"
        "  mobrelay-sync devices\n"
        "  mobrelay-sync [--library FILE] configure DIR|ID [--playlists all|none|NAME[,NAME...]]\n"
        "        [--podcasts all|none|NAME[,NAME...]] [--episodes N] [--album-art on|off]\n"
        "        [--album-art-existing on|off] [--convert-to-mp3 on|off]\n"
        "        [--backup BACKUP --copy messages,contacts,photos|none [--photo-folder DIR]...]\n"
        "  mobrelay-sync [--library FILE] [--wait SECONDS] sync [DIR|ID] [--yes | --no-delete]\n"
        "        [--force-full] [--allow-low-space] [--free-space BYTES]\n"
        "  mobrelay-sync backups [FOLDER...]\n"
        "  mobrelay-sync export BACKUP OUT_DIR\n"
        "DIR is the root folder of a phone mounted as a USB drive. ID names an attached\n"
        "phone as \"devices\" lists it; \"sync\" without either synchronises the connected\n"
        "phone (the configured one set up last), and exits with 69 when there is none.\n"
        "BACKUP is an iPhone backup folder or a BlackBerry backup file (.ipd).\n"
        "sync exits with 75 without running while another Mobrelay program (the window\n"
        "or another mobrelay-sync) is synchronising a phone.\n");
}

bool SyncCliOptions::parseOption(const QString &aName, const QStringList &aArguments, int &aIndex,
                                 QString &aError)
{
    const auto takesValue = [&]() {
        static const QStringList withValue = {QStringLiteral("--library"),
                                              QStringLiteral("--wait"),
                                              QStringLiteral("--playlists"),
                                              QStringLiteral("--podcasts"),
                                              QStringLiteral("--episodes"),
                                              QStringLiteral("--album-art"),
                                              QStringLiteral("--album-art-existing"),
                                              QStringLiteral("--convert-to-mp3"),
                                              QStringLiteral("--backup"),
                                              QStringLiteral("--copy"),
                                              QStringLiteral("--photo-folder"),
                                              QStringLiteral("--free-space"),
                                              QStringLiteral("--mount-table"),
                                              QStringLiteral("--sysfs")};
        return withValue.contains(aName);
    };
    QString value;
    const QString &argument = aArguments.at(aIndex);
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    if (takesValue()) {
        if (equals >= 0) {
            value = argument.mid(equals + 1);
        } else if (aIndex + 1 < aArguments.size()) {
            value = aArguments.at(++aIndex);
        } else {
            aError = aName + QStringLiteral(" needs a value");
            return false;
        }
    } else if (equals >= 0) {
        aError = aName + QStringLiteral(" takes no value");
        return false;
    }

    const auto bad = [&]() {
        aError = QStringLiteral("bad value for %1: '%2'").arg(aName, value);
        return false;
    };
    const auto onlyFor = [&](Command aCommand) {
        if (mCommand == aCommand)
            return true;
        aError = aName + QStringLiteral(" is an option of ") +
                 (aCommand == Command::Sync ? QStringLiteral("sync") : QStringLiteral("configure"));
        return false;
    };

    qint64 number = 0;
    if (aName == QLatin1String("--library")) {
        if (value.isEmpty())
            return bad();
        mLibraryFile = value;
    } else if (aName == QLatin1String("--wait")) {
        if (!parseCount(value, 24 * 3600, number))
            return bad();
        mWaitSeconds = int(number);
    } else if (aName == QLatin1String("--mount-table") || aName == QLatin1String("--sysfs")) {
        if (value.isEmpty())
            return bad();
        (aName == QLatin1String("--sysfs") ? mSysfsRoot : mMountTable) = value;
    } else if (aName == QLatin1String("--playlists")) {
        if (!onlyFor(Command::Configure) || !parseSelection(value, mPlaylists))
            return aError.isEmpty() ? bad() : false;
    } else if (aName == QLatin1String("--podcasts")) {
        if (!onlyFor(Command::Configure) || !parseSelection(value, mPodcasts))
            return aError.isEmpty() ? bad() : false;
    } else if (aName == QLatin1String("--episodes")) {
        if (!onlyFor(Command::Configure))
            return false;
        if (!parseCount(value, std::numeric_limits<int>::max(), number))
            return bad();
        mEpisodes = int(number);
    } else if (aName == QLatin1String("--album-art")) {
        if (!onlyFor(Command::Configure))
            return false;
        if (!parseOnOff(value, mAlbumArt))
            return bad();
    } else if (aName == QLatin1String("--album-art-existing")) {
        bool existing = false;
        if (!onlyFor(Command::Configure))
            return false;
        if (!parseOnOff(value, existing))
            return bad();
        mAlbumArtExisting = existing ? 1 : 0;
    } else if (aName == QLatin1String("--convert-to-mp3")) {
        if (!onlyFor(Command::Configure))
            return false;
        if (!parseOnOff(value, mConvertToMp3))
            return bad();
    } else if (aName == QLatin1String("--backup")) {
        if (!onlyFor(Command::Configure))
            return false;
        if (value.isEmpty())
            return bad();
        mDataBackup = value;
    } else if (aName == QLatin1String("--copy")) {
        if (!onlyFor(Command::Configure))
            return false;
        mCopy = {};
        if (value != QLatin1String("none")) {
            const QStringList items = value.split(QLatin1Char(','));
            for (const QString &item : items) {
                if (!mCopy.contains(item) &&
                    !QStringList{u"messages"_qs, u"contacts"_qs, u"photos"_qs}.contains(item))
                    return bad();
                mCopy.append(item);
            }
        }
    } else if (aName == QLatin1String("--photo-folder")) {
        if (!onlyFor(Command::Configure))
            return false;
        if (value.isEmpty())
            return bad();
        mPhotoFolders.append(value);
    } else if (aName == QLatin1String("--yes") || aName == QLatin1String("--no-delete")) {
        if (!onlyFor(Command::Sync))
            return false;
        const Answer answer = aName == QLatin1String("--yes") ? Answer::Yes : Answer::No;
        if (mDelete != Answer::Ask && mDelete != answer) {
            aError = QStringLiteral("--yes and --no-delete exclude each other");
            return false;
        }
        mDelete = answer;
    } else if (aName == QLatin1String("--force-full")) {
        if (!onlyFor(Command::Sync))
            return false;
        mForceFull = true;
    } else if (aName == QLatin1String("--allow-low-space")) {
        if (!onlyFor(Command::Sync))
            return false;
        mAllowLowSpace = true;
    } else if (aName == QLatin1String("--free-space")) {
        if (!onlyFor(Command::Sync))
            return false;
        if (!parseCount(value, std::numeric_limits<qint64>::max(), number))
            return bad();
        mFreeSpace = number;
    } else {
        aError = QStringLiteral("unknown option ") + aName;
        return false;
    }
    return true;
}

bool SyncCliOptions::parse(const QStringList &aArguments, QString &aError)
{
    aError.clear();
    QStringList positional;
    for (int i = 0; i < aArguments.size(); ++i) {
        const QString &argument = aArguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            mCommand = Command::Help;
            return true;
        }
        if (argument.startsWith(QLatin1String("--")) && argument.size() > 2) {
            const QString name = argument.section(QLatin1Char('='), 0, 0);
            // Command options may only follow their command.
            if (!parseOption(name, aArguments, i, aError))
                return false;
            continue;
        }
        if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            aError = QStringLiteral("unknown option ") + argument;
            return false;
        }
        if (mCommand == Command::None) {
            if (argument == QLatin1String("playlists"))
                mCommand = Command::Playlists;
            else if (argument == QLatin1String("configure"))
                mCommand = Command::Configure;
            else if (argument == QLatin1String("sync"))
                mCommand = Command::Sync;
            else if (argument == QLatin1String("backups"))
                mCommand = Command::Backups;
            else if (argument == QLatin1String("export"))
                mCommand = Command::Export;
            else if (argument == QLatin1String("devices"))
                mCommand = Command::Devices;
            else {
                aError = QStringLiteral("unknown command '%1'").arg(argument);
                return false;
            }
            continue;
        }
        positional.append(argument);
    }
    switch (mCommand) {
    case Command::None:
        aError = QStringLiteral("no command given");
        return false;
    case Command::Playlists:
    case Command::Devices:
        if (!positional.isEmpty()) {
            aError = (mCommand == Command::Devices ? QStringLiteral("devices")
                                                   : QStringLiteral("playlists")) +
                     QStringLiteral(" takes no arguments");
            return false;
        }
        return true;
    case Command::Configure:
    case Command::Sync:
        if (positional.size() > 1 || (mCommand == Command::Configure && positional.isEmpty()) ||
            (!positional.isEmpty() && positional.first().isEmpty())) {
            aError = QStringLiteral("expected exactly one phone folder or device id");
            return false;
        }
        if (!positional.isEmpty())
            (PhoneFinder::isDeviceId(positional.first()) ? mPhoneId : mPhoneFolder) =
                positional.first();
        if (mDataBackup.isEmpty() && (!mCopy.isEmpty() || !mPhotoFolders.isEmpty())) {
            aError = QStringLiteral("--copy and --photo-folder need --backup");
            return false;
        }
        return true;
    case Command::Backups:
        mBackupFolders = positional;
        return true;
    case Command::Export:
        if (positional.size() != 2 || positional.at(0).isEmpty() || positional.at(1).isEmpty()) {
            aError = QStringLiteral("export expects a backup and an output folder");
            return false;
        }
        mBackupPath = positional.at(0);
        mOutputFolder = positional.at(1);
        return true;
    case Command::Help:
        break;
    }
    return true;
}
