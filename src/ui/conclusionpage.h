#pragma once

#include <QWizardPage>

class QCheckBox;
class QRadioButton;

// The last page: album art, AAC conversion and whether to synchronise at once.
class ConclusionPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ConclusionPage(QWidget *aParent = nullptr);

    void setOptions(bool aAlbumArt, bool aAlbumArtExisting, bool aConvertToMp3);
    bool albumArt() const;
    bool albumArtExisting() const;
    bool convertToMp3() const;
    bool syncNow() const;

    QCheckBox *albumArtBox() const { return mAlbumArt; }
    QCheckBox *albumArtExistingBox() const { return mAlbumArtExisting; }
    QCheckBox *convertBox() const { return mConvert; }
    QRadioButton *syncNowRadio() const { return mSyncNow; }
    QRadioButton *syncLaterRadio() const { return mSyncLater; }

    int nextId() const override { return -1; }

private:
    QCheckBox *mAlbumArt;
    QCheckBox *mAlbumArtExisting;
    QCheckBox *mConvert;
    QRadioButton *mSyncNow;
    QRadioButton *mSyncLater;
};
