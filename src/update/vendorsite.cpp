#include "update/vendorsite.h"

#include "settings/syncsettings.h"

VendorSite::VendorSite(const QString &aBase)
{
    QUrl base(aBase.trimmed(), QUrl::StrictMode);
    const QString scheme = base.scheme();
    if (!base.isValid() || base.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        base = QUrl(DefaultBase);
    // Page paths are absolute; a trailing slash or a path on the base would double up.
    base.setPath(QString());
    base.setQuery(QString());
    base.setFragment(QString());
    mBase = base;
}

VendorSite::VendorSite(const SyncSettings &aSettings)
    : VendorSite(aSettings.getGlobalStringValue(BaseKey))
{}

VendorSite VendorSite::current()
{
    SyncSettings settings;
    settings.load();
    return VendorSite(settings);
}

QUrl VendorSite::url(const QString &aPath) const
{
    QUrl address = mBase;
    address.setPath(aPath);
    return address;
}
