#include "ui/deletetracksconfirm.h"

#include "ui/tracklistwidget.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

DeleteTracksConfirm::DeleteTracksConfirm(const TrackList &aTracks, QWidget *aParent)
    : QDialog(aParent)
{
    setModal(true);
    setMinimumWidth(400);
    auto *layout = new QVBoxLayout(this);
    auto *question = new QLabel(tr("The following tracks will be removed from your device. "
                                   "Do you want to continue?"),
                                this);
    question->setWordWrap(true);
    layout->addWidget(question);
    layout->addWidget(new TrackListWidget(aTracks, this));
    mAlwaysDelete = new QCheckBox(tr("Always delete tracks without warning"), this);
    layout->addWidget(mAlwaysDelete);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *no = new QPushButton(tr("No"), this);
    auto *yes = new QPushButton(tr("Yes"), this);
    // Deleting takes a click or Space on Yes: Enter anywhere in the dialog means No.
    no->setDefault(true);
    yes->setAutoDefault(false);
    buttons->addWidget(no);
    buttons->addWidget(yes);
    layout->addLayout(buttons);
    connect(no, &QPushButton::clicked, this, &DeleteTracksConfirm::userClicksCancel);
    connect(yes, &QPushButton::clicked, this, &DeleteTracksConfirm::userClicksDone);
    no->setFocus();
}

void DeleteTracksConfirm::userClicksDone()
{
    done(mAlwaysDelete->isChecked() ? DeleteAlways : Delete);
}

void DeleteTracksConfirm::userClicksCancel()
{
    done(Keep);
}
