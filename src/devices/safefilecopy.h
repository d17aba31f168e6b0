#pragma once

#include <QString>

// Copies a file so that the destination name only ever holds a complete copy:
// the data goes to a temporary file in the destination's folder, is flushed to
// the medium and only then renamed. A phone pulled mid-copy keeps no truncated
// file under a name that a later run would take for a finished upload.
class SafeFileCopy
{
public:
    static inline const QString TemporaryName = QStringLiteral(".mobrelay-copy.part");

    // Without aReplace an existing destination makes the copy fail; with it the
    // old file is replaced only once the new copy is complete.
    static bool copy(const QString &aSource, const QString &aDestination, bool aReplace = false);
};
