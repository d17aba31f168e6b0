#pragma once

#include "library/itresult.h"

#include <QString>

// Lets a caller answer automation calls in place of the library (to rehearse
// failures of a busy or broken iTunes). A call is named "Object.Method"; the
// object is a playlist's or track's name, an item's index, or empty.
class ITCallInterceptor
{
public:
    virtual ~ITCallInterceptor() = default;
    // True when the call is taken: aResult is then its answer, and aNull tells
    // whether it succeeds with a null value.
    virtual bool take(const char *aCall, const QString &aObject, HResult &aResult, bool &aNull) = 0;
};
