#pragma once

#include <QWizardPage>

// The wizard's greeting; the licence follows only when there were no settings yet.
class IntroPage : public QWizardPage
{
    Q_OBJECT
public:
    static constexpr int ChangeSettings = 0;
    static constexpr int NewPhone = 1;
    static constexpr int FirstSetup = 3;

    IntroPage(int aMode, bool aSettingsLoaded, QWidget *aParent = nullptr);

    static QString introText(int aMode);
    int nextId() const override;

private:
    bool mSettingsLoaded;
};
