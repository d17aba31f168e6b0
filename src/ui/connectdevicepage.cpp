#include "ui/connectdevicepage.h"

#include "core/logger.h"
#include "devices/device.h"
#include "ui/richtext.h"
#include "update/vendorsite.h"

#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QVBoxLayout>

namespace {
QString pageLink(const QString &aPath)
{
    return RichText::link(VendorSite::current().url(aPath), QObject::tr("here"));
}
} // namespace

ConnectDevicePage::ConnectDevicePage(DeviceList &aDevices, QWidget *aParent)
    : QWizardPage(aParent), mDevices(aDevices)
{
    setTitle(tr("Phone Setup"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(
        RichText::linkLabel(tr("<p>Connect your phone to the PC using the USB cable and then "
                               "select it from the list below.</p>"),
                            this));
    mList = new QListWidget(this);
    mList->setMaximumHeight(150);
    layout->addWidget(mList);
    layout->addWidget(
        RichText::linkLabel(tr("<p>Click %1 if your phone is connected but is not displayed "
                               "above.</p>")
                                .arg(pageLink(VendorSite::PhoneNotDetected)),
                            this));
    layout->addStretch();
    const QPixmap watermark(QStringLiteral(":/images/wizard1.png"));
    if (!watermark.isNull())
        setMaximumHeight(watermark.height());
    connect(mList, &QListWidget::itemSelectionChanged, this, &ConnectDevicePage::selectionChanged);
    connect(&mDevices, &DeviceList::unableToOpenDevice, this,
            &ConnectDevicePage::unableToOpenDevice);
}

void ConnectDevicePage::setCurrent(bool aCurrent)
{
    mCurrent = aCurrent;
    if (aCurrent)
        deviceListChanged();
}

Device *ConnectDevicePage::selectedDevice() const
{
    return mSelectedId.isEmpty() ? nullptr : mDevices.deviceById(mSelectedId);
}

void ConnectDevicePage::deviceListChanged()
{
    LogScope scope("ConnectDevicePage::DeviceListChanged");
    const QList<Device *> devices = mDevices.GetDevices();
    int keep = -1;
    {
        const QSignalBlocker blocker(mList);
        mList->clear();
        for (int i = 0; i < devices.size(); ++i) {
            const QString id = mDevices.deviceId(devices.at(i));
            auto *item = new QListWidgetItem(devices.at(i)->FriendlyName(), mList);
            item->setData(IdRole, id);
            if (id == mSelectedId)
                keep = i;
        }
        if (keep >= 0)
            mList->setCurrentRow(keep);
    }
    // The list's order may have changed under the index the device list holds.
    if (keep >= 0)
        mDevices.SelectDevice(keep);
    else
        mSelectedId.clear();
    Q_EMIT completeChanged();
}

void ConnectDevicePage::selectionChanged()
{
    const int row = mList->currentRow();
    const QListWidgetItem *item = row >= 0 ? mList->item(row) : nullptr;
    mSelectedId = item && item->isSelected() ? item->data(IdRole).toString() : QString();
    if (!mSelectedId.isEmpty()) {
        const QList<Device *> devices = mDevices.GetDevices();
        const int index = devices.indexOf(mDevices.deviceById(mSelectedId));
        if (index >= 0)
            mDevices.SelectDevice(index);
        else
            mSelectedId.clear();
    }
    Q_EMIT completeChanged();
}

bool ConnectDevicePage::isComplete() const
{
    return !mSelectedId.isEmpty();
}

void ConnectDevicePage::warn(const QString &aText)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Mobrelay"), aText, QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    box.exec();
}

bool ConnectDevicePage::validatePage()
{
    LogScope scope("ConnectDevicePage::validatePage");
    Logger &log = Logger::instance();
    Device *device = selectedDevice();
    if (!device) {
        log.text("Device has gone");
        warn(tr("<p>The selected phone is no longer connected. Connect it again and select it "
                "from the list.</p>"));
        return false;
    }
    bool ok = true;
    if (!device->IsMounted()) {
        log.text("Device not mounted");
        warn(tr("<p>It is necessary to enable the USB connection on your phone before "
                "synchronizing. Click %1 for instructions on how to do this.<p>")
                 .arg(pageLink(VendorSite::EnableUsb)));
        ok = false;
    }
    if (device->isDisabled()) {
        log.text("Device is disabled");
        warn(tr("<p>The USB connection on the selected device is not responding correctly. Note "
                "that the Mobrelay application must be installed and run on the Android device "
                "before connecting it. Click %1 for details on how to fix this issue.<p>")
                 .arg(pageLink(VendorSite::UsbConnectionProblem)));
        ok = false;
    }
    return ok;
}

void ConnectDevicePage::unableToOpenDevice()
{
    if (!mCurrent || mUnableShown)
        return;
    mUnableShown = true;
    QMessageBox::warning(this, tr("Unable to Connect to The Device"),
                         tr("Please close any other applications which may be using the "
                            "connected device (for example the file manager's MTP access)."));
}
