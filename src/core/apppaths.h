#pragma once

#include <QString>

// Where the program keeps its files on the PC. Every path is composed from the
// home folder at the time of the call, so a test can point HOME elsewhere.
class AppPaths
{
public:
    static QString dataFolder();                   // home/VARUZ
    static QString settingsFile();                 // home/VARUZ/varuz.xml
    static QString cacheFilePrefix();              // home/VARUZ/mcache
    static QString dataFile(const QString &aName); // home/VARUZ/<name>
};
