#include "ui/usbejectwarning.h"

#include "ui/richtext.h"
#include "update/vendorsite.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

UsbEjectWarning::UsbEjectWarning(QWidget *aParent) : QDialog(aParent)
{
    setModal(true);
    setMinimumWidth(300);
    auto *layout = new QVBoxLayout(this);
    const QString link =
        RichText::link(VendorSite::current().url(VendorSite::UsbEject), tr("here"));
    auto *label = new QLabel(tr("<p>Synchronization is complete.</p><p>Please eject your phone "
                                "before disconnecting, click %1 for more details.</p>")
                                 .arg(link),
                             this);
    label->setWordWrap(true);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(label, &QLabel::linkActivated, this, &RichText::openWebLink);
    layout->addWidget(label);
    mDontShowAgain = new QCheckBox(tr("Do not display this message again."), this);
    layout->addWidget(mDontShowAgain);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &UsbEjectWarning::userDone);
    layout->addWidget(buttons);
}

void UsbEjectWarning::userDone()
{
    done(mDontShowAgain->isChecked() ? 1 : 0);
}
