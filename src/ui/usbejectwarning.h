#pragma once

#include <QDialog>

class QCheckBox;

// Reminds the user to eject a USB phone after a run. Result: 1 when the reminder
// is not to be shown again, else 0.
class UsbEjectWarning : public QDialog
{
    Q_OBJECT
public:
    explicit UsbEjectWarning(QWidget *aParent = nullptr);

public Q_SLOTS:
    void userDone();

private:
    QCheckBox *mDontShowAgain;
};
