#pragma once

#include "backup/itunesbackup.h"

#include <QList>
#include <QWizardPage>

class QCheckBox;
class QListWidget;

// Which iTunes backup of another phone to copy data from, and which data.
class DeviceBackupPage : public QWizardPage
{
    Q_OBJECT
public:
    static constexpr int PathRole = Qt::UserRole;
    static constexpr int MissingRole = Qt::UserRole + 1;

    DeviceBackupPage(const QList<ITunesBackup> &aBackups, QWidget *aParent = nullptr);

    // Shows the phone's stored choice; a stored backup that is no longer found
    // stays listed and chosen, so that a visit to the wizard does not forget it.
    void setChoice(const QString &aBackupPath, bool aTextMessages, bool aAddressBook, bool aPhotos);
    QString selectedBackupPath() const;
    bool copyTextMessages() const;
    bool copyAddressBook() const;
    bool copyPhotos() const;
    // Why Next must wait (rich text), or empty.
    QString problem() const;

    QListWidget *backupList() const { return mList; }
    QCheckBox *textMessagesBox() const { return mTextMessages; }
    QCheckBox *addressBookBox() const { return mAddressBook; }
    QCheckBox *photosBox() const { return mPhotos; }

    bool validatePage() override;
    int nextId() const override;

private:
    QListWidget *mList;
    QCheckBox *mTextMessages;
    QCheckBox *mAddressBook;
    QCheckBox *mPhotos;
};
