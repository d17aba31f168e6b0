#pragma once

// What the exporters wrote, for the user's summary.
struct ExportCounts
{
    int mSent = 0;
    int mReceived = 0;
    int mPeople = 0;
    int mPhotos = 0;
};
