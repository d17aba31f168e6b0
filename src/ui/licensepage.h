#pragma once

#include <QWizardPage>

class QCheckBox;

// The licence agreement, shown on the first set-up; Next waits for "I accept".
class LicensePage : public QWizardPage
{
    Q_OBJECT
public:
    explicit LicensePage(QWidget *aParent = nullptr);

    QCheckBox *acceptBox() const { return mAccept; }
    int nextId() const override;

private:
    QCheckBox *mAccept;
};
