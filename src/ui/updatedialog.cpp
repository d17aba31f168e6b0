#include "ui/updatedialog.h"

#include "ui/richtext.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

UpdateDialog::UpdateDialog(QWidget *aParent, const QString &aTitle, const QString &aText)
    : QDialog(aParent)
{
    setModal(true);
    setFixedWidth(400);
    setWindowTitle(aTitle);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(RichText::fromPlainText(aText), this);
    label->setWordWrap(true);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(label, &QLabel::linkActivated, this, &RichText::openWebLink);
    layout->addWidget(label);
    auto *box = new QCheckBox(tr("Do not display this message again."), this);
    connect(box, &QCheckBox::stateChanged, this, &UpdateDialog::dontShowAgainStateChanged);
    layout->addWidget(box);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void UpdateDialog::dontShowAgainStateChanged(int aNewState)
{
    mDontShowAgain = aNewState == Qt::Checked;
}
