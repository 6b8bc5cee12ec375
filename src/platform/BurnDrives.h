#pragma once

#include <QString>
#include <QStringList>

// The optical drives a burn may use, as xorriso names them. One function serves the burner, the
// burn panel and the archive project's ready check, which asks at every button-state check, so
// the list never starts a program (no "xorriso -devices"): it is read from the settings or from
// sysfs only.
namespace BurnDrives {

// The drives of a run that names its own (a tool's command line): they take the place of the
// setting until cleared with an empty list; nothing is written to the settings.
void setRunDrives(const QStringList& drives);
// Tests point the sysfs lookup at a fixture folder holding "class/block"; empty restores "/sys".
void setSysfsRoot(const QString& root);

// The run's drives when set; else the entries of the setting "BurnDrives" ("stdio:" paths or
// device files) when it holds any, and then nothing else; else "/dev/srN" for each srN under
// <sysfs>/class/block, in number order.
QStringList list();
bool any();

// The rule of list() over given inputs.
QStringList listFrom(const QStringList& configured, const QString& sysfsRoot);

} // namespace BurnDrives
