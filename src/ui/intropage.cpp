#include "ui/intropage.h"

#include <QLabel>
#include <QVBoxLayout>

IntroPage::IntroPage(int aMode, bool aSettingsLoaded, QWidget *aParent)
    : QWizardPage(aParent), mSettingsLoaded(aSettingsLoaded)
{
    setTitle(tr("Phone Setup"));
    auto *label = new QLabel(introText(aMode), this);
    label->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
}

QString IntroPage::introText(int aMode)
{
    switch (aMode) {
    case ChangeSettings:
        return tr("This wizard will help you change your synchronization settings.");
    case NewPhone:
        return tr("A new phone has been detected. This wizard will help you set it up so that "
                  "it can be synchronized.");
    default:
        return tr("This wizard will help you set up a phone so that it can be synchronized.");
    }
}

int IntroPage::nextId() const
{
    return mSettingsLoaded ? 2 : 1;
}
