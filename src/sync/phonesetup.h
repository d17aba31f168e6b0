#pragma once

#include <QString>

class Device;
class PhoneConfiguration;

// The end of setting a phone up, shared by the wizard's Finish and
// `mobrelay-sync configure`: the phone gets its identifier, then its choices
// are stored under it.
class PhoneSetup
{
public:
    // False with a reason in aMessage when the phone or the settings file
    // could not be written.
    static bool finish(Device &aDevice, const PhoneConfiguration &aConfiguration,
                       QString &aMessage);
};
