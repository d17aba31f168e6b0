#include "ui/playlistsettingspage.h"

#include "core/logger.h"
#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
#include "ui/playlistnameloader.h"
#include "ui/spacegauge.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
constexpr int Indent = 40;

QWidget *indented(QWidget *aWidget, QWidget *aParent)
{
    auto *box = new QWidget(aParent);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(Indent, 0, 0, 0);
    layout->addWidget(aWidget);
    return box;
}
} // namespace

PlaylistSettingsPage::PlaylistSettingsPage(LocalMusicLibrary *aLibrary, bool aPodcasts,
                                           QWidget *aParent)
    : QWizardPage(aParent), mLibrary(aLibrary), mPodcasts(aPodcasts)
{
    LogScope scope("PlaylistSettingsPage::PlaylistSettingsPage");
    setTitle(tr("Phone Setup"));
    auto *layout = new QVBoxLayout(this);
    mGroup = new QButtonGroup(this);
    if (mPodcasts) {
        mNone = new QRadioButton(tr("Do not copy podcasts to phone"), this);
        mAll = new QRadioButton(tr("Copy all podcasts to the phone"), this);
        mSelected = new QRadioButton(tr("Copy selected podcasts to the phone"), this);
        mNone->setChecked(true);
    } else {
        mNone = new QRadioButton(tr("Do not copy music to the phone"), this);
        mAll = new QRadioButton(tr("Copy the complete music library to the phone"), this);
        mSelected = new QRadioButton(
            tr("Copy the contents of an existing iTunes playlist to the phone"), this);
        mAll->setChecked(true);
    }
    for (QRadioButton *radio : {mNone, mAll, mSelected}) {
        mGroup->addButton(radio);
        layout->addWidget(radio);
    }
    mList = new QListWidget(this);
    mList->setEnabled(false);
    layout->addWidget(indented(mList, this));
    if (mPodcasts) {
        layout->addWidget(new QLabel(tr("Episode options:"), this));
        mEpisodes = new QComboBox(this);
        mEpisodes->addItem(tr("Sync all episodes"));
        mEpisodes->addItem(tr("Sync most recent episode only"));
        for (int n = 2; n < EpisodeChoices; ++n)
            mEpisodes->addItem(tr("Sync most recent %1 episodes only").arg(n));
        layout->addWidget(indented(mEpisodes, this));
    }
    layout->addWidget(new QLabel(tr("Used and available space on your phone:"), this));
    mGauge = new SpaceGauge(true, this);
    layout->addWidget(mGauge);

    connect(mSelected, &QRadioButton::toggled, mList, &QListWidget::setEnabled);
    connect(mGroup, &QButtonGroup::buttonToggled, this, &PlaylistSettingsPage::updated);
    // itemChanged, not itemClicked: a tick given with the space bar counts too.
    connect(mList, &QListWidget::itemChanged, this, &PlaylistSettingsPage::playlistItemChanged);

    if (mPodcasts) {
        if (PodcastRamCache *cache = PodcastRamCache::instance()) {
            connect(cache, &PodcastRamCache::updated, this,
                    &PlaylistSettingsPage::playlistsUpdated);
            mNamesKnown = cache->isFinished();
        }
    } else if (mLibrary) {
        mLoader = new PlaylistNameLoader(mLibrary->factory(), this);
        connect(mLoader, &PlaylistNameLoader::loaded, this, &PlaylistSettingsPage::namesLoaded);
        connect(mLoader, &QThread::finished, this, &PlaylistSettingsPage::loaderFinished);
        connect(mLibrary, &LocalMusicLibrary::localLibraryEvent, this,
                &PlaylistSettingsPage::playlistsUpdated);
        mNames = mLibrary->playlists();
        mNamesKnown = !mNames.isEmpty();
    }
    fill();
    updated();
    if (mLoader)
        playlistsUpdated();
}

PlaylistSettingsPage::~PlaylistSettingsPage()
{
    // The loader's own destructor waits too, but only after this page is gone.
    if (mLoader) {
        mLoader->cancel();
        mLoader->wait();
    }
}

QStringList PlaylistSettingsPage::sourceNames() const
{
    if (!mPodcasts)
        return mNames;
    QStringList names;
    if (PodcastRamCache *cache = PodcastRamCache::instance())
        cache->getPodcasts(names);
    return names;
}

void PlaylistSettingsPage::addItem(const QString &aName, bool aMissing)
{
    auto *item = new QListWidgetItem(mList);
    item->setData(NameRole, aName);
    item->setData(MissingRole, aMissing);
    if (aMissing) {
        item->setText(tr("%1 (not found in iTunes)").arg(aName));
        item->setToolTip(tr("Kept from the phone's settings; iTunes no longer lists it."));
        QFont font = item->font();
        font.setItalic(true);
        item->setFont(font);
    } else {
        item->setText(aName);
    }
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(Qt::Unchecked);
}

void PlaylistSettingsPage::fill()
{
    const bool selected = mSelected->isChecked();
    const QStringList chosen = playlistNames();
    {
        const QSignalBlocker blocker(mList);
        mList->clear();
        for (const QString &name : sourceNames())
            addItem(name, false);
    }
    if (selected)
        tickNames(chosen);
    updated();
}

void PlaylistSettingsPage::tickNames(const QStringList &aNames)
{
    QStringList missing;
    for (const QString &name : aNames) {
        if (!name.isEmpty() && !missing.contains(name, Qt::CaseInsensitive))
            missing.append(name);
    }
    {
        const QSignalBlocker blocker(mList);
        for (int row = 0; row < mList->count(); ++row) {
            QListWidgetItem *item = mList->item(row);
            const QString name = item->data(NameRole).toString();
            const bool ticked = missing.contains(name, Qt::CaseInsensitive);
            missing.removeIf([&name](const QString &aName) {
                return aName.compare(name, Qt::CaseInsensitive) == 0;
            });
            item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        }
        // A stored name the library no longer lists stays visible and chosen: the
        // user decides, not a playlist renamed in iTunes.
        for (int i = missing.size() - 1; i >= 0; --i) {
            addItem(missing.at(i), mNamesKnown);
            mList->item(mList->count() - 1)->setCheckState(Qt::Checked);
        }
    }
    mSelected->setChecked(true);
    updated();
}

void PlaylistSettingsPage::setPlaylistSettings(bool aAllMusic, const QStringList &aNames)
{
    QStringList names = aNames;
    names.removeAll(QString());
    if (aAllMusic)
        mAll->setChecked(true);
    else if (names.isEmpty())
        mNone->setChecked(true);
    else
        tickNames(names);
    updated();
}

void PlaylistSettingsPage::setPodcastSettings(int aSetting, const QStringList &aNames,
                                              int aEpisodes)
{
    if (mEpisodes)
        mEpisodes->setCurrentIndex(qBound(0, aEpisodes, EpisodeChoices - 1));
    QStringList names = aNames;
    names.removeAll(QString());
    if (aSetting == 1)
        mAll->setChecked(true);
    else if (aSetting == 0)
        mNone->setChecked(true);
    else
        tickNames(names);
    updated();
}

QStringList PlaylistSettingsPage::playlistNames() const
{
    QStringList names;
    if (!mSelected->isChecked())
        return names;
    for (int row = mList->count() - 1; row >= 0; --row) {
        const QListWidgetItem *item = mList->item(row);
        if (item->checkState() == Qt::Checked)
            names.append(item->data(NameRole).toString());
    }
    return names;
}

int PlaylistSettingsPage::podcastSyncSettings() const
{
    if (mAll->isChecked())
        return 1;
    return mSelected->isChecked() ? 2 : 0;
}

bool PlaylistSettingsPage::allSelected() const
{
    return mAll->isChecked();
}

int PlaylistSettingsPage::episodes() const
{
    return mEpisodes ? mEpisodes->currentIndex() : 0;
}

void PlaylistSettingsPage::showSpace(qint64 aUsed, qint64 aFree)
{
    mGauge->setSpace(aUsed, aFree);
}

bool PlaylistSettingsPage::isRefreshing() const
{
    return mRefreshing;
}

void PlaylistSettingsPage::setCurrent(bool aCurrent)
{
    if (aCurrent && !mPodcasts)
        playlistsUpdated();
}

void PlaylistSettingsPage::focusChoice()
{
    for (QRadioButton *radio : {mNone, mAll, mSelected}) {
        if (radio->isChecked())
            radio->setFocus();
    }
}

void PlaylistSettingsPage::updated()
{
    bool complete = mAll->isChecked() || mNone->isChecked();
    if (mSelected->isChecked()) {
        for (int row = 0; row < mList->count() && !complete; ++row)
            complete = mList->item(row)->checkState() == Qt::Checked;
    }
    if (complete != mComplete) {
        mComplete = complete;
        Q_EMIT completeChanged();
    }
}

void PlaylistSettingsPage::playlistItemChanged(QListWidgetItem *)
{
    updated();
}

void PlaylistSettingsPage::playlistsUpdated()
{
    if (!mLoader) {
        if (mPodcasts)
            mNamesKnown = true;
        fill();
        Q_EMIT namesRefreshed();
        return;
    }
    if (mRefreshing) {
        mRefreshAgain = true;
    } else {
        mRefreshing = true;
        mLoader->start();
    }
}

void PlaylistSettingsPage::namesLoaded(const QStringList &aNames)
{
    mNamesKnown = true;
    mNames = aNames;
    fill();
    Q_EMIT namesRefreshed();
}

void PlaylistSettingsPage::loaderFinished()
{
    mRefreshing = mRefreshAgain;
    if (mRefreshAgain) {
        mRefreshAgain = false;
        mLoader->start();
    }
}

bool PlaylistSettingsPage::isComplete() const
{
    return mComplete;
}

int PlaylistSettingsPage::nextId() const
{
    return mPodcasts ? BackupPageId : PodcastPageId;
}
