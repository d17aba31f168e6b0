#include "ui/licensepage.h"

#include <QCheckBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

LicensePage::LicensePage(QWidget *aParent) : QWizardPage(aParent)
{
    setTitle(tr("License Agreement"));
    auto *layout = new QVBoxLayout(this);
    auto *text = new QTextBrowser(this);
    text->setOpenExternalLinks(true);
    QFile file(QStringLiteral(":/licence.html"));
    if (file.open(QIODevice::ReadOnly))
        text->setHtml(QString::fromUtf8(file.readAll()));
    layout->addWidget(text);
    mAccept = new QCheckBox(tr("I accept the terms of the license agreement"), this);
    layout->addWidget(mAccept);
    // A mandatory field keeps Next disabled until the box is ticked.
    registerField(QStringLiteral("licenseAccepted*"), mAccept);
}

int LicensePage::nextId() const
{
    return 2;
}
