#pragma once

// The content pane's node of one item of the selection tree. The item tells its node to forget
// it when the item is destroyed, so the pane never reaches a freed item.
class IBackupItemNode
{
public:
    virtual ~IBackupItemNode() = default;
    virtual void setPBackupItemNil() = 0;
};
