#pragma once

#include <QString>

class CBackup;
class ILocation;
class IProcessIndicator;

// The archive kit's coordinator in the application shell, as the project record calls it. The
// shell registers its implementation; the headless default applies the name rule over the
// archive container's list, asks for the folder through UiPrompts (whose headless answer is
// Cancel) and draws nothing.
class ICoordinator
{
public:
    virtual ~ICoordinator() = default;

    static ICoordinator& shared();
    // nullptr restores the headless default; the caller keeps ownership.
    static void setShared(ICoordinator* coordinator);

    // False when another archive project (not `excluded`) already has exactly this name.
    virtual bool isUniqueName(const QString& name, const CBackup* excluded) = 0;
    virtual void fullReloadBackupData() = 0;
    // Lets the user pick an existing destination folder for the location; true when one was set.
    virtual bool chooseDestPathByUser(ILocation* location) = 0;
    virtual int newBackupIndex() = 0; // -1
    // The kit's run button and indicator; nullptr when there is none.
    virtual IProcessIndicator* processIndicator() = 0;
};

class HeadlessCoordinator : public ICoordinator
{
public:
    bool isUniqueName(const QString& name, const CBackup* excluded) override;
    void fullReloadBackupData() override { }
    bool chooseDestPathByUser(ILocation* location) override;
    int newBackupIndex() override { return -1; }
    IProcessIndicator* processIndicator() override { return nullptr; }
};
