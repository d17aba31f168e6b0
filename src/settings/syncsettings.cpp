#include "settings/syncsettings.h"

#include "core/apppaths.h"
#include "core/logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
const QString DeviceTag = QStringLiteral("device");
const QString IdTag = QStringLiteral("id");
const QString NameTag = QStringLiteral("name");
const QString CacheTag = QStringLiteral("cache");
const QString PlaylistTag = QStringLiteral("playlist");
const QString PodcastTag = QStringLiteral("podcast");
const QString ListTag = QStringLiteral("list");
const QString RootTag = QStringLiteral("settings");
const QString PodcastSettingKey = QStringLiteral("podcast-sync-setting");
const QString TrueText = QStringLiteral("true");

// Kept across setConfig, in this order.
const char *const WarningKeys[] = {"delete-without-warning", "dont-warn-usb", "dont-warn-drm",
                                   "dont-warn-not-copied", "dont-warn-not-deleted"};
} // namespace

QString SyncSettings::fileName()
{
    return AppPaths::settingsFile();
}

int SyncSettings::load()
{
    LogScope scope("SyncSettings::load");
    Logger &log = Logger::instance();
    mDocument = QDomDocument();
    mDamage.clear();
    mDamagedCopy.clear();
    QDir().mkpath(AppPaths::dataFolder());
    QFile file(fileName());
    if (!file.open(QIODevice::ReadOnly))
        return scope.ret(SettingsUnreadable);
    const QByteArray content = file.readAll();
    file.close();
    QString error;
    int line = 0;
    int column = 0;
    if (mDocument.setContent(content, &error, &line, &column))
        return scope.ret(0);
    mDocument = QDomDocument();
    // Nothing in it to lose.
    if (content.trimmed().isEmpty())
        return scope.ret(0);
    mDamage = QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(error);
    log.value("Settings file is not valid XML", mDamage);
    mDamagedCopy = moveDamagedFile();
    log.value("Damaged settings file kept as", mDamagedCopy);
    return scope.ret(SettingsDamaged);
}

// An older damaged copy is never replaced: each gets a name of its own.
QString SyncSettings::moveDamagedFile()
{
    const QString damaged = fileName();
    for (int n = 0; n < 1000 && QFileInfo::exists(damaged); ++n) {
        QString copy = damaged + QStringLiteral(".bad");
        if (n > 0)
            copy += QLatin1Char('.') + QString::number(n);
        // rename() never replaces an existing file.
        if (QFile::rename(damaged, copy))
            return copy;
    }
    return QString();
}

int SyncSettings::save()
{
    LogScope scope("SyncSettings::save");
    if (!mDamage.isEmpty() && mDamagedCopy.isEmpty()) {
        Logger::instance().text("Not replacing the damaged settings file");
        return scope.ret(SettingsDamaged);
    }
    // Written to a temporary file and renamed, so a crash or a full disk never
    // leaves a half-written settings file behind.
    QDir().mkpath(AppPaths::dataFolder());
    QSaveFile file(fileName());
    if (file.open(QIODevice::WriteOnly) && file.write(mDocument.toByteArray(0)) >= 0 &&
        file.commit())
        return scope.ret(0);
    Logger::instance().value("Settings not written", file.errorString());
    return scope.ret(SettingsNotWritten);
}

QDomElement SyncSettings::rootElement()
{
    QDomElement root = mDocument.documentElement();
    if (root.isNull()) {
        root = mDocument.createElement(RootTag);
        mDocument.appendChild(root);
    }
    return root;
}

QDomElement SyncSettings::firstChild(const QDomElement &aParent, const QString &aName) const
{
    return aParent.isNull() ? QDomElement() : aParent.firstChildElement(aName);
}

QDomElement SyncSettings::findDeviceElement(const QString &aDeviceId) const
{
    const QDomNodeList devices = mDocument.elementsByTagName(DeviceTag);
    for (int i = 0; i < devices.count(); ++i) {
        const QDomElement device = devices.at(i).toElement();
        if (device.firstChildElement(IdTag).text() == aDeviceId &&
            !device.firstChildElement(IdTag).isNull())
            return device;
    }
    return QDomElement();
}

int SyncSettings::deviceLineNumber(const QString &aDeviceId) const
{
    const QDomElement device = findDeviceElement(aDeviceId);
    return device.isNull() ? -1 : device.lineNumber();
}

int SyncSettings::getCacheFilename(const QString &aDeviceId, QString &aCacheFilename) const
{
    LogScope scope("SyncSettings::getCacheFilename");
    const QDomElement device = findDeviceElement(aDeviceId);
    if (device.isNull())
        return scope.ret(DeviceNotConfigured);
    aCacheFilename = device.firstChildElement(CacheTag).text();
    return scope.ret(0);
}

QString SyncSettings::getStringValue(const QString &aDeviceId, const QString &aKey,
                                     const QString &aDefault) const
{
    const QDomElement element = firstChild(findDeviceElement(aDeviceId), aKey);
    return element.isNull() ? aDefault : element.text();
}

int SyncSettings::getIntValue(const QString &aDeviceId, const QString &aKey, int aDefault) const
{
    const QDomElement element = firstChild(findDeviceElement(aDeviceId), aKey);
    return element.isNull() ? aDefault : element.text().toInt();
}

bool SyncSettings::getBooleanValue(const QString &aDeviceId, const QString &aKey,
                                   bool aDefault) const
{
    const QDomElement element = firstChild(findDeviceElement(aDeviceId), aKey);
    return element.isNull() ? aDefault : element.text() == TrueText;
}

void SyncSettings::appendTextElement(QDomElement &aParent, const QString &aName,
                                     const QString &aText)
{
    QDomElement element = mDocument.createElement(aName);
    element.appendChild(mDocument.createTextNode(aText));
    aParent.appendChild(element);
}

void SyncSettings::setStringValue(const QString &aDeviceId, const QString &aKey,
                                  const QString &aValue)
{
    QDomElement device = findDeviceElement(aDeviceId);
    if (device.isNull())
        return;
    const QDomElement old = device.firstChildElement(aKey);
    if (!old.isNull())
        device.removeChild(old);
    appendTextElement(device, aKey, aValue);
}

void SyncSettings::setIntValue(const QString &aDeviceId, const QString &aKey, int aValue)
{
    setStringValue(aDeviceId, aKey, QString::number(aValue));
}

void SyncSettings::setBooleanValue(const QString &aDeviceId, const QString &aKey, bool aValue)
{
    setStringValue(aDeviceId, aKey, aValue ? TrueText : QStringLiteral("false"));
}

QString SyncSettings::getGlobalStringValue(const QString &aKey) const
{
    return mDocument.documentElement().firstChildElement(aKey).text();
}

int SyncSettings::setGlobalStringValue(const QString &aKey, const QString &aValue)
{
    QDomElement root = rootElement();
    for (QDomElement old = root.firstChildElement(aKey); !old.isNull();) {
        const QDomElement next = old.nextSiblingElement(aKey);
        root.removeChild(old);
        old = next;
    }
    appendTextElement(root, aKey, aValue);
    return 0;
}

QStringList SyncSettings::siblingTexts(const QDomElement &aDevice, const QString &aName) const
{
    const QDomElement first = aDevice.firstChildElement(aName);
    QStringList texts{first.text()};
    for (QDomElement e = first.nextSiblingElement(aName); !e.isNull();
         e = e.nextSiblingElement(aName))
        texts.append(e.text());
    return texts;
}

int SyncSettings::getConfig(const QString &aDeviceId, bool &aAllMusic, int &aPodcastSetting,
                            QStringList &aPlaylists, QStringList &aPodcasts) const
{
    LogScope scope("SyncSettings::getConfig");
    const QDomElement device = findDeviceElement(aDeviceId);
    if (device.isNull())
        return scope.ret(DeviceNotConfigured);
    aPlaylists = siblingTexts(device, PlaylistTag);
    aAllMusic = aPlaylists.first().isEmpty();
    if (aPlaylists.size() == 1 && aPlaylists.first() == DontSyncMusic) {
        aAllMusic = false;
        aPlaylists.clear();
    }
    aPodcastSetting = getIntValue(aDeviceId, PodcastSettingKey, 0);
    aPodcasts = siblingTexts(device, PodcastTag);
    return scope.ret(0);
}

int SyncSettings::setConfig(const QString &aDeviceId, bool aAllMusic, int aPodcastSetting,
                            const QStringList &aPlaylists, const QStringList &aPodcasts,
                            const QString &aDisplayName)
{
    LogScope scope("SyncSettings::setConfig");
    bool warnings[std::size(WarningKeys)];
    for (size_t i = 0; i < std::size(WarningKeys); ++i)
        warnings[i] = getBooleanValue(aDeviceId, QLatin1String(WarningKeys[i]), false);

    QDomElement root = rootElement();
    QString cache;
    getCacheFilename(aDeviceId, cache);
    const QDomElement old = findDeviceElement(aDeviceId);
    if (!old.isNull())
        old.parentNode().removeChild(old);
    if (cache.isEmpty())
        cache = generateUniqueCacheFilename();

    QDomElement device = mDocument.createElement(DeviceTag);
    appendTextElement(device, IdTag, aDeviceId);
    appendTextElement(device, NameTag, aDisplayName);
    appendTextElement(device, CacheTag, cache);
    if (!aAllMusic) {
        for (const QString &name : aPlaylists)
            appendTextElement(device, PlaylistTag, name);
        if (aPlaylists.isEmpty())
            appendTextElement(device, PlaylistTag, DontSyncMusic);
    }
    if (aPodcastSetting == PodcastsByName) {
        for (const QString &name : aPodcasts)
            appendTextElement(device, PodcastTag, name);
    }
    root.appendChild(device);

    for (size_t i = 0; i < std::size(WarningKeys); ++i) {
        if (warnings[i])
            setBooleanValue(aDeviceId, QLatin1String(WarningKeys[i]), true);
    }
    setIntValue(aDeviceId, PodcastSettingKey, aPodcastSetting);
    return scope.ret(save());
}

QDomElement SyncSettings::findListElement(const QString &aDeviceId, const QString &aName,
                                          bool aCreate)
{
    QDomElement device = findDeviceElement(aDeviceId);
    if (device.isNull())
        return QDomElement();
    const QDomNodeList lists = device.elementsByTagName(ListTag);
    for (int i = 0; i < lists.count(); ++i) {
        const QDomElement list = lists.at(i).toElement();
        if (list.attribute(NameTag) == aName)
            return list;
    }
    if (!aCreate)
        return QDomElement();
    QDomElement list = mDocument.createElement(ListTag);
    list.setAttribute(NameTag, aName);
    device.appendChild(list);
    return list;
}

SyncSettings::SettingsList SyncSettings::getSettingsList(const QString &aDeviceId,
                                                         const QString &aName) const
{
    SettingsList pairs;
    const QDomElement list =
        const_cast<SyncSettings *>(this)->findListElement(aDeviceId, aName, false);
    for (QDomElement e = list.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        pairs.append({e.attribute(QStringLiteral("key")), e.attribute(QStringLiteral("value"))});
    return pairs;
}

void SyncSettings::removeSettingsList(const QString &aDeviceId, const QString &aName)
{
    QDomElement list = findListElement(aDeviceId, aName, false);
    if (!list.isNull())
        list.parentNode().removeChild(list);
}

void SyncSettings::setSettingsList(const QString &aDeviceId, const QString &aName,
                                   const SettingsList &aPairs)
{
    removeSettingsList(aDeviceId, aName);
    if (aPairs.isEmpty())
        return;
    QDomElement list = findListElement(aDeviceId, aName, true);
    for (const auto &pair : aPairs) {
        QDomElement entry = mDocument.createElement(QStringLiteral("entry"));
        entry.setAttribute(QStringLiteral("key"), pair.first);
        entry.setAttribute(QStringLiteral("value"), pair.second);
        list.appendChild(entry);
    }
}

QStringList SyncSettings::getUsedCacheFilenames() const
{
    QStringList names;
    const QDomNodeList devices = mDocument.elementsByTagName(DeviceTag);
    for (int i = 0; i < devices.count(); ++i) {
        const QDomElement cache = devices.at(i).firstChildElement(CacheTag);
        if (!cache.isNull())
            names.append(cache.text());
    }
    return names;
}

QString SyncSettings::generateUniqueCacheFilename() const
{
    const QStringList used = getUsedCacheFilenames();
    const QString prefix = AppPaths::cacheFilePrefix();
    for (int n = 0;; ++n) {
        const QString candidate = prefix + QString::number(n);
        // A file on disk may belong to a phone whose entry was lost with a damaged
        // settings file; sharing it would mix two phones' tracks.
        if (!used.contains(candidate) && !QFileInfo::exists(candidate) &&
            !QFileInfo::exists(candidate + QLatin1Char('p')))
            return candidate;
    }
}

#define MOBRELAY_BOOL_KEY(getter, key, fallback)                                                   \
    bool SyncSettings::getter(const QString &aDeviceId) const                                      \
    {                                                                                              \
        return getBooleanValue(aDeviceId, QStringLiteral(key), fallback);                          \
    }

MOBRELAY_BOOL_KEY(deleteWithoutWarning, "delete-without-warning", false)
MOBRELAY_BOOL_KEY(convertAacToMp3, "convert-to-mp3", false)
MOBRELAY_BOOL_KEY(skipUsbEjectWarning, "dont-warn-usb", false)
MOBRELAY_BOOL_KEY(skipDrmWarning, "dont-warn-drm", false)
MOBRELAY_BOOL_KEY(skipNotCopiedWarning, "dont-warn-not-copied", false)
MOBRELAY_BOOL_KEY(forceArtworkSync, "force-album-art-sync", true)
MOBRELAY_BOOL_KEY(enableArtworkSync, "enable-album-art-sync", true)
MOBRELAY_BOOL_KEY(copyTextMessages, "copy-text-messages", false)
MOBRELAY_BOOL_KEY(copyAddressBook, "copy-address-book", false)
MOBRELAY_BOOL_KEY(copyPhotos, "copy-photos", false)
#undef MOBRELAY_BOOL_KEY

void SyncSettings::setDeleteWithoutWarning(const QString &aDeviceId)
{
    setBooleanValue(aDeviceId, QStringLiteral("delete-without-warning"), true);
}
void SyncSettings::setConvertAacToMp3(const QString &aDeviceId, bool aValue)
{
    setBooleanValue(aDeviceId, QStringLiteral("convert-to-mp3"), aValue);
}
void SyncSettings::setSkipUsbEjectWarning(const QString &aDeviceId)
{
    setBooleanValue(aDeviceId, QStringLiteral("dont-warn-usb"), true);
}
void SyncSettings::setSkipDrmWarning(const QString &aDeviceId)
{
    setBooleanValue(aDeviceId, QStringLiteral("dont-warn-drm"), true);
}
void SyncSettings::setSkipNotCopiedWarning(const QString &aDeviceId)
{
    setBooleanValue(aDeviceId, QStringLiteral("dont-warn-not-copied"), true);
}
void SyncSettings::setForceArtworkSync(const QString &aDeviceId, bool aValue)
{
    setBooleanValue(aDeviceId, QStringLiteral("force-album-art-sync"), aValue);
}
void SyncSettings::setEnableArtworkSync(const QString &aDeviceId, bool aValue)
{
    setBooleanValue(aDeviceId, QStringLiteral("enable-album-art-sync"), aValue);
}
int SyncSettings::numberOfEpisodesToSync(const QString &aDeviceId) const
{
    return getIntValue(aDeviceId, QStringLiteral("number-of-episodes-to-sync"), 0);
}
void SyncSettings::setNumberOfEpisodesToSync(const QString &aDeviceId, int aValue)
{
    setIntValue(aDeviceId, QStringLiteral("number-of-episodes-to-sync"), aValue);
}
void SyncSettings::setCopyTextMessages(const QString &aDeviceId, bool aValue)
{
    setBooleanValue(aDeviceId, QStringLiteral("copy-text-messages"), aValue);
}
void SyncSettings::setCopyAddressBook(const QString &aDeviceId, bool aValue)
{
    setBooleanValue(aDeviceId, QStringLiteral("copy-address-book"), aValue);
}
void SyncSettings::setCopyPhotos(const QString &aDeviceId, bool aValue)
{
    setBooleanValue(aDeviceId, QStringLiteral("copy-photos"), aValue);
}
QString SyncSettings::selectedBackupPath(const QString &aDeviceId) const
{
    return getStringValue(aDeviceId, QStringLiteral("backup-path"));
}
void SyncSettings::setSelectedBackupPath(const QString &aDeviceId, const QString &aValue)
{
    setStringValue(aDeviceId, QStringLiteral("backup-path"), aValue);
}

QString SyncSettings::dontDisplayMessage() const
{
    return getGlobalStringValue(QStringLiteral("dont-display-message"));
}
void SyncSettings::setDontDisplayMessage(const QString &aMessage)
{
    setGlobalStringValue(QStringLiteral("dont-display-message"), aMessage);
}
QString SyncSettings::libraryPath() const
{
    return getGlobalStringValue(QStringLiteral("library-path"));
}
void SyncSettings::setLibraryPath(const QString &aPath)
{
    setGlobalStringValue(QStringLiteral("library-path"), aPath);
}
