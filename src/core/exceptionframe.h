#pragma once

#include <QString>
#include <QtGlobal>

// One stack frame of an exception report. Empty texts and line 0 mean the
// lookup found nothing.
struct ExceptionFrame
{
    QString mFunction;
    QString mFile;
    qint32 mLine = 0;
};
