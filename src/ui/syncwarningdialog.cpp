#include "ui/syncwarningdialog.h"

#include "ui/richtext.h"
#include "ui/tracklistwidget.h"
#include "update/vendorsite.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace {
QString warningText(int aKind)
{
    const VendorSite site = VendorSite::current();
    const QString here = QObject::tr("here");
    switch (aKind) {
    case SyncWarningDialog::FolderFailed:
    case SyncWarningDialog::CopyFailed:
        return QObject::tr("<p>It was not possible to copy the following tracks to your "
                           "phone.</p><p>Click %1 to diagnose the problem.</p>")
            .arg(RichText::link(site.url(aKind == SyncWarningDialog::FolderFailed
                                             ? VendorSite::DirectoryFailed
                                             : VendorSite::CopyFailed),
                                here));
    case SyncWarningDialog::CopyProtected:
        return QObject::tr("<p>Some of your tracks are copy protected and cannot be played on "
                           "your phone. These tracks are listed below.</p><p>Click %1 for more "
                           "information on copy protected tracks.</p>")
            .arg(RichText::link(site.url(VendorSite::Drm), here));
    default:
        return QString();
    }
}
} // namespace

SyncWarningDialog::SyncWarningDialog(QWidget *aParent, const TrackList &aTracks, int aKind)
    : QDialog(aParent)
{
    setModal(true);
    setFixedWidth(400);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(warningText(aKind), this);
    label->setWordWrap(true);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(label, &QLabel::linkActivated, this, &SyncWarningDialog::linkActivated);
    layout->addWidget(label);
    layout->addWidget(new TrackListWidget(aTracks, this));
    auto *box = new QCheckBox(tr("Do not show this warning again"), this);
    connect(box, &QCheckBox::stateChanged, this, &SyncWarningDialog::dontShowAgainStateChanged);
    layout->addWidget(box);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void SyncWarningDialog::dontShowAgainStateChanged(int aNewState)
{
    mDontShowAgain = aNewState == Qt::Checked;
}

void SyncWarningDialog::linkActivated(const QString &aLink)
{
    RichText::openWebLink(aLink);
}
