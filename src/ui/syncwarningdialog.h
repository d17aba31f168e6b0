#pragma once

#include <QDialog>

class TrackList;

// Lists the tracks a run could not copy, or the copy-protected ones, with a
// link to the page that explains why.
class SyncWarningDialog : public QDialog
{
    Q_OBJECT
public:
    // Not copied, the last failure was a folder that could not be made.
    static constexpr int FolderFailed = 0;
    // Not copied, any other failure.
    static constexpr int CopyFailed = 1;
    static constexpr int CopyProtected = 4;

    SyncWarningDialog(QWidget *aParent, const TrackList &aTracks, int aKind);

    bool dontShowAgain() const { return mDontShowAgain; }

public Q_SLOTS:
    void dontShowAgainStateChanged(int aNewState);
    void linkActivated(const QString &aLink);

private:
    bool mDontShowAgain = false;
};
