#pragma once

#include <QDialog>

// Shows the vendor's update notice. The text arrives from the network, so it is
// shown as plain text in which only web addresses become links.
class UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    UpdateDialog(QWidget *aParent, const QString &aTitle, const QString &aText);

    bool dontShowAgain() const { return mDontShowAgain; }

public Q_SLOTS:
    void dontShowAgainStateChanged(int aNewState);

private:
    bool mDontShowAgain = false;
};
