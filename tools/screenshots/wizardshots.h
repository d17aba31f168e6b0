#pragma once

#include <QString>
#include <QStringList>

// Renders every page of the setup wizard, on the demo library and a folder
// posing as a phone, to aDir/wizard-*.png; appends the names written.
bool renderWizardShots(const QString &aDir, QStringList &aWritten);
