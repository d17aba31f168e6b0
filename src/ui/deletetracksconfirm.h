#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class TrackList;

// Asks before tracks are removed from the phone. Result: 0 keep them, 1 delete,
// 2 delete and stop asking for this phone.
class DeleteTracksConfirm : public QDialog
{
    Q_OBJECT
public:
    static constexpr int Keep = 0;
    static constexpr int Delete = 1;
    static constexpr int DeleteAlways = 2;

    explicit DeleteTracksConfirm(const TrackList &aTracks, QWidget *aParent = nullptr);

public Q_SLOTS:
    void userClicksDone();
    void userClicksCancel();

private:
    QCheckBox *mAlwaysDelete;
};
