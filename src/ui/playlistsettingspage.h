#pragma once

#include <QStringList>
#include <QWizardPage>

class LocalMusicLibrary;
class PlaylistNameLoader;
class QButtonGroup;
class QComboBox;
class QListWidget;
class QListWidgetItem;
class QRadioButton;
class SpaceGauge;

// The wizard's choice of what goes to the phone: the music page (whole library,
// chosen playlists or none) or, with aPodcasts, the podcast page (all, chosen
// podcasts or none, and how many recent episodes).
class PlaylistSettingsPage : public QWizardPage
{
    Q_OBJECT
public:
    static constexpr int MusicPageId = 4;
    static constexpr int PodcastPageId = 5;
    static constexpr int BackupPageId = 7;
    static constexpr int EpisodeChoices = 11;
    static constexpr int NameRole = Qt::UserRole;
    static constexpr int MissingRole = Qt::UserRole + 1;

    PlaylistSettingsPage(LocalMusicLibrary *aLibrary, bool aPodcasts, QWidget *aParent = nullptr);
    ~PlaylistSettingsPage() override;

    bool isPodcastPage() const { return mPodcasts; }
    // The keyboard starts on the choice in force, not on the first of them.
    void focusChoice();
    void setCurrent(bool aCurrent);
    void setPlaylistSettings(bool aAllMusic, const QStringList &aNames);
    void setPodcastSettings(int aSetting, const QStringList &aNames, int aEpisodes);
    // The ticked names when "selected" is chosen, last item first; else empty.
    QStringList playlistNames() const;
    // 0 none, 1 all, 2 the named ones.
    int podcastSyncSettings() const;
    bool allSelected() const;
    int episodes() const;
    void showSpace(qint64 aUsed, qint64 aFree);
    // True while names are being read from the library.
    bool isRefreshing() const;

    QListWidget *list() const { return mList; }
    QRadioButton *noneRadio() const { return mNone; }
    QRadioButton *allRadio() const { return mAll; }
    QRadioButton *selectedRadio() const { return mSelected; }
    QComboBox *episodeCombo() const { return mEpisodes; }
    SpaceGauge *spaceGauge() const { return mGauge; }

    bool isComplete() const override;
    int nextId() const override;

public Q_SLOTS:
    void updated();
    // Asks for the names again; the list is refilled when they arrive.
    void playlistsUpdated();
    void playlistItemChanged(QListWidgetItem *aItem);

Q_SIGNALS:
    // The list was refilled from names read afresh.
    void namesRefreshed();

private:
    void namesLoaded(const QStringList &aNames);
    void loaderFinished();
    QStringList sourceNames() const;
    void fill();
    void tickNames(const QStringList &aNames);
    void addItem(const QString &aName, bool aMissing);

    LocalMusicLibrary *mLibrary;
    bool mPodcasts;
    QStringList mNames;
    // False until the names have been read once: until then nothing is marked missing.
    bool mNamesKnown = false;
    // From the start of a read until its end has been handled here.
    bool mRefreshing = false;
    bool mRefreshAgain = false;
    bool mComplete = false;
    QButtonGroup *mGroup;
    QRadioButton *mNone;
    QRadioButton *mAll;
    QRadioButton *mSelected;
    QListWidget *mList;
    QComboBox *mEpisodes = nullptr;
    SpaceGauge *mGauge;
    PlaylistNameLoader *mLoader = nullptr;
};
