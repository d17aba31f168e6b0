#pragma once

#include "library/itunesappfactory.h"

#include <QString>

// Application objects over the library's XML file. The file is the settings'
// "library-path" when set, otherwise the first of the usual places that exists.
class XmlITunesAppFactory : public ITunesAppFactory
{
public:
    // An empty path means: look it up on every creation.
    explicit XmlITunesAppFactory(const QString &aLibraryFile = QString());

    HResult create(std::shared_ptr<ITunesApp> &aApp) override;
    std::unique_ptr<ITEventConnection> watch(std::function<void()> aHandler) override;
    QString libraryFile() const;

    static QString configuredLibraryFile();
    static QStringList defaultLibraryFiles();

private:
    QString mLibraryFile;
};
