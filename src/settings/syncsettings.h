#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The settings file home/VARUZ/varuz.xml as a DOM document. Every user loads
// its own copy, changes it and saves it; the last save wins.
class SyncSettings
{
public:
    static constexpr int SettingsUnreadable = -5003;
    // The file is there but does not parse. It is moved aside (damagedCopy()),
    // so that saving a fresh document loses nothing; where it cannot be moved,
    // save() leaves it alone.
    static constexpr int SettingsDamaged = -5004;
    // save() could not write the file (disk full, no permission).
    static constexpr int SettingsNotWritten = -5005;
    static constexpr int DeviceNotConfigured = -6000;
    static constexpr int PodcastsByName = 2;
    static inline const QString DontSyncMusic = QStringLiteral("###DONT-SYNC-MUSIC###");

    using SettingsList = QList<QPair<QString, QString>>;

    int load();
    int save();
    static QString fileName();
    // After a load that gave SettingsDamaged: where the file went (empty when it
    // could not be moved) and "line L, column C: reason".
    QString damagedCopy() const { return mDamagedCopy; }
    QString damage() const { return mDamage; }

    QDomElement findDeviceElement(const QString &aDeviceId) const;
    bool isConfigured(const QString &aDeviceId) const
    {
        return !findDeviceElement(aDeviceId).isNull();
    }
    int deviceLineNumber(const QString &aDeviceId) const;
    int getCacheFilename(const QString &aDeviceId, QString &aCacheFilename) const;

    QString getStringValue(const QString &aDeviceId, const QString &aKey,
                           const QString &aDefault = QString()) const;
    int getIntValue(const QString &aDeviceId, const QString &aKey, int aDefault = 0) const;
    bool getBooleanValue(const QString &aDeviceId, const QString &aKey, bool aDefault) const;
    void setStringValue(const QString &aDeviceId, const QString &aKey, const QString &aValue);
    void setIntValue(const QString &aDeviceId, const QString &aKey, int aValue);
    void setBooleanValue(const QString &aDeviceId, const QString &aKey, bool aValue);

    QString getGlobalStringValue(const QString &aKey) const;
    int setGlobalStringValue(const QString &aKey, const QString &aValue);

    int getConfig(const QString &aDeviceId, bool &aAllMusic, int &aPodcastSetting,
                  QStringList &aPlaylists, QStringList &aPodcasts) const;
    int setConfig(const QString &aDeviceId, bool aAllMusic, int aPodcastSetting,
                  const QStringList &aPlaylists, const QStringList &aPodcasts,
                  const QString &aDisplayName);

    SettingsList getSettingsList(const QString &aDeviceId, const QString &aName) const;
    void removeSettingsList(const QString &aDeviceId, const QString &aName);
    // Replaces the named list; an empty one removes it.
    void setSettingsList(const QString &aDeviceId, const QString &aName,
                         const SettingsList &aPairs);
    QDomElement findListElement(const QString &aDeviceId, const QString &aName, bool aCreate);

    QStringList getUsedCacheFilenames() const;
    QString generateUniqueCacheFilename() const;

    bool deleteWithoutWarning(const QString &aDeviceId) const;
    void setDeleteWithoutWarning(const QString &aDeviceId);
    bool convertAacToMp3(const QString &aDeviceId) const;
    void setConvertAacToMp3(const QString &aDeviceId, bool aValue);
    bool skipUsbEjectWarning(const QString &aDeviceId) const;
    void setSkipUsbEjectWarning(const QString &aDeviceId);
    bool skipDrmWarning(const QString &aDeviceId) const;
    void setSkipDrmWarning(const QString &aDeviceId);
    bool skipNotCopiedWarning(const QString &aDeviceId) const;
    void setSkipNotCopiedWarning(const QString &aDeviceId);
    bool forceArtworkSync(const QString &aDeviceId) const;
    void setForceArtworkSync(const QString &aDeviceId, bool aValue);
    bool enableArtworkSync(const QString &aDeviceId) const;
    void setEnableArtworkSync(const QString &aDeviceId, bool aValue);
    int numberOfEpisodesToSync(const QString &aDeviceId) const;
    void setNumberOfEpisodesToSync(const QString &aDeviceId, int aValue);
    bool copyTextMessages(const QString &aDeviceId) const;
    void setCopyTextMessages(const QString &aDeviceId, bool aValue);
    bool copyAddressBook(const QString &aDeviceId) const;
    void setCopyAddressBook(const QString &aDeviceId, bool aValue);
    bool copyPhotos(const QString &aDeviceId) const;
    void setCopyPhotos(const QString &aDeviceId, bool aValue);
    QString selectedBackupPath(const QString &aDeviceId) const;
    void setSelectedBackupPath(const QString &aDeviceId, const QString &aValue);

    QString dontDisplayMessage() const;
    void setDontDisplayMessage(const QString &aMessage);
    QString libraryPath() const;
    void setLibraryPath(const QString &aPath);

    const QDomDocument &document() const { return mDocument; }

private:
    QDomElement rootElement();
    QDomElement firstChild(const QDomElement &aParent, const QString &aName) const;
    QStringList siblingTexts(const QDomElement &aDevice, const QString &aName) const;
    void appendTextElement(QDomElement &aParent, const QString &aName, const QString &aText);
    static QString moveDamagedFile();

    QDomDocument mDocument;
    QString mDamage;
    QString mDamagedCopy;
};
