#pragma once

#include "library/itresult.h"

#include <memory>

// A collection of the automation layer; items are numbered from 1.
template <typename T> class ITCollection
{
public:
    virtual ~ITCollection() = default;
    virtual HResult Count(qint32 &aCount) = 0;
    virtual HResult Item(qint32 aIndex, std::shared_ptr<T> &aItem) = 0;
};
