#pragma once

#include <QtGlobal>

// Result of every call into the library automation layer: negative is a failure,
// with the values that COM automation servers answer.
using HResult = qint32;

namespace ITResult {
constexpr HResult Ok = 0;
// The server is busy or not answering: callers wait and try again.
constexpr HResult CallRejected = HResult(0x80010001u);
constexpr HResult ServerExecFailure = HResult(0x80080005u);
constexpr HResult NoInterface = HResult(0x80004002u);
constexpr HResult Fail = HResult(0x80004005u);
constexpr HResult InvalidArg = HResult(0x80070057u);

inline bool failed(HResult aResult)
{
    return aResult < 0;
}
inline bool isBusy(HResult aResult)
{
    return aResult == CallRejected || aResult == ServerExecFailure;
}
} // namespace ITResult
