#pragma once

#include "devices/devicelist.h"

#include <QWizardPage>

class Device;
class QListWidget;

// The list of attached phones to choose from. It keeps the chosen phone by its
// id, so that a refresh of the device list never leaves it pointing at a phone
// that has gone.
class ConnectDevicePage : public QWizardPage, public MDeviceListObserver
{
    Q_OBJECT
public:
    static constexpr int IdRole = Qt::UserRole;

    ConnectDevicePage(DeviceList &aDevices, QWidget *aParent = nullptr);

    void setCurrent(bool aCurrent);
    // The chosen phone's id in the device list; empty when none.
    QString selectedId() const { return mSelectedId; }
    // Null when nothing is chosen or the phone has gone.
    Device *selectedDevice() const;
    QListWidget *deviceList() const { return mList; }

    void deviceListChanged() override;
    bool isComplete() const override;
    bool validatePage() override;
    int nextId() const override { return 4; }

public Q_SLOTS:
    void selectionChanged();
    void unableToOpenDevice();

private:
    void warn(const QString &aText);

    DeviceList &mDevices;
    QListWidget *mList;
    QString mSelectedId;
    bool mCurrent = false;
    bool mUnableShown = false;
};
