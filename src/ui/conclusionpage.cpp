#include "ui/conclusionpage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

ConclusionPage::ConclusionPage(QWidget *aParent) : QWizardPage(aParent)
{
    setTitle(tr("Phone Setup"));
    setFinalPage(true);
    auto *layout = new QVBoxLayout(this);

    auto *art = new QGroupBox(tr("Album Art"), this);
    auto *artLayout = new QVBoxLayout(art);
    mAlbumArt = new QCheckBox(tr("Synchronize album art for newly added tracks"), art);
    mAlbumArtExisting = new QCheckBox(tr("Synchronize album art for previously added tracks"), art);
    mAlbumArt->setChecked(true);
    mAlbumArtExisting->setChecked(true);
    artLayout->addWidget(mAlbumArt);
    artLayout->addWidget(mAlbumArtExisting);
    layout->addWidget(art);

    auto *format = new QGroupBox(tr("Music Format"), this);
    auto *formatLayout = new QVBoxLayout(format);
    mConvert = new QCheckBox(tr("Convert AAC to MP3"), format);
    mConvert->setToolTip(tr("For phones that cannot play AAC (.m4a) files. Needs ffmpeg."));
    formatLayout->addWidget(mConvert);
    layout->addWidget(format);

    auto *sync = new QGroupBox(tr("Synchronization Options"), this);
    auto *syncLayout = new QVBoxLayout(sync);
    mSyncNow = new QRadioButton(tr("Sync now"), sync);
    mSyncLater = new QRadioButton(tr("Sync later"), sync);
    mSyncNow->setChecked(true);
    syncLayout->addWidget(mSyncNow);
    syncLayout->addWidget(mSyncLater);
    layout->addWidget(sync);
    layout->addStretch();
}

void ConclusionPage::setOptions(bool aAlbumArt, bool aAlbumArtExisting, bool aConvertToMp3)
{
    mAlbumArt->setChecked(aAlbumArt);
    mAlbumArtExisting->setChecked(aAlbumArtExisting);
    mConvert->setChecked(aConvertToMp3);
}

bool ConclusionPage::albumArt() const
{
    return mAlbumArt->isChecked();
}

bool ConclusionPage::albumArtExisting() const
{
    return mAlbumArtExisting->isChecked();
}

bool ConclusionPage::convertToMp3() const
{
    return mConvert->isChecked();
}

bool ConclusionPage::syncNow() const
{
    return mSyncNow->isChecked();
}
