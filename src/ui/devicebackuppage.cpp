#include "ui/devicebackuppage.h"

#include "ui/richtext.h"
#include "update/vendorsite.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>

namespace {
constexpr int Indent = 40;

QString backupLabel(const ITunesBackup &aBackup)
{
    if (!aBackup.mBackupName.isEmpty())
        return aBackup.mBackupName;
    return QDir(aBackup.mBackupPath).dirName();
}
} // namespace

DeviceBackupPage::DeviceBackupPage(const QList<ITunesBackup> &aBackups, QWidget *aParent)
    : QWizardPage(aParent)
{
    setTitle(tr("Copy Data from Another Device"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(RichText::linkLabel(
        tr("<p>%1 can copy additional information from iTunes device backups on your PC to "
           "your Android phone.</p><p>Any iTunes device backups on your PC are listed below:</p>")
            .arg(QStringLiteral("Mobrelay")),
        this));
    mList = new QListWidget(this);
    mList->setMaximumHeight(75);
    for (const ITunesBackup &backup : aBackups) {
        auto *item = new QListWidgetItem(backupLabel(backup), mList);
        item->setData(PathRole, backup.mBackupPath);
        item->setToolTip(backup.mBackupPath);
    }
    auto *listBox = new QHBoxLayout;
    listBox->setContentsMargins(Indent, 0, 0, 0);
    listBox->addWidget(mList);
    layout->addLayout(listBox);
    layout->addWidget(RichText::linkLabel(
        tr("<p>If you wish to transfer this information to your Android phone then select a "
           "backup from the above list plus one or more of the options below:"),
        this));
    mTextMessages = new QCheckBox(tr("Copy Text Messages"), this);
    mAddressBook = new QCheckBox(tr("Copy Address Book"), this);
    mPhotos = new QCheckBox(tr("Copy Photos"), this);
    for (QCheckBox *box : {mTextMessages, mAddressBook, mPhotos}) {
        auto *row = new QHBoxLayout;
        row->setContentsMargins(Indent, 0, 0, 0);
        row->addWidget(box);
        layout->addLayout(row);
    }
    layout->addStretch();
}

void DeviceBackupPage::setChoice(const QString &aBackupPath, bool aTextMessages, bool aAddressBook,
                                 bool aPhotos)
{
    // Rows added for an earlier phone's missing backup do not belong to this one.
    for (int row = mList->count() - 1; row >= 0; --row) {
        if (mList->item(row)->data(MissingRole).toBool())
            delete mList->takeItem(row);
    }
    mList->clearSelection();
    mList->setCurrentRow(-1);
    if (!aBackupPath.isEmpty()) {
        const QString wanted = QDir::cleanPath(aBackupPath);
        QListWidgetItem *found = nullptr;
        for (int row = 0; row < mList->count() && !found; ++row) {
            if (QDir::cleanPath(mList->item(row)->data(PathRole).toString()) == wanted)
                found = mList->item(row);
        }
        if (!found) {
            found = new QListWidgetItem(
                tr("%1 (not found on this PC)").arg(QDir(aBackupPath).dirName()), mList);
            found->setData(PathRole, aBackupPath);
            found->setData(MissingRole, true);
            found->setToolTip(aBackupPath);
        }
        mList->setCurrentItem(found);
        found->setSelected(true);
    }
    mTextMessages->setChecked(aTextMessages);
    mAddressBook->setChecked(aAddressBook);
    mPhotos->setChecked(aPhotos);
}

QString DeviceBackupPage::selectedBackupPath() const
{
    const QList<QListWidgetItem *> selected = mList->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->data(PathRole).toString();
}

bool DeviceBackupPage::copyTextMessages() const
{
    return mTextMessages->isChecked();
}

bool DeviceBackupPage::copyAddressBook() const
{
    return mAddressBook->isChecked();
}

bool DeviceBackupPage::copyPhotos() const
{
    return mPhotos->isChecked();
}

QString DeviceBackupPage::problem() const
{
    const bool backup = !selectedBackupPath().isEmpty();
    const bool data = copyTextMessages() || copyAddressBook() || copyPhotos();
    if (backup && !data)
        return tr("You have selected a backup but you have not selected which data to transfer. "
                  "Select one or more of the checkboxes to continue.");
    if (data && !backup) {
        const QString link =
            RichText::link(VendorSite::current().url(VendorSite::CreateITunesBackup), tr("here"));
        return tr("You have selected to copy data but have not selected a backup. Either select "
                  "a backup or clear the checkboxes to continue. Click %1 for more information "
                  "on how to create an iTunes backup.")
            .arg(link);
    }
    return QString();
}

bool DeviceBackupPage::validatePage()
{
    const QString message = problem();
    if (message.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Mobrelay"), message, QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    box.exec();
    return false;
}

int DeviceBackupPage::nextId() const
{
    return 9;
}
