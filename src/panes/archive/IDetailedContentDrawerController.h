#pragma once

#include <QDialog>

class IDDOutlineView;
class IDDOutlineViewController;
class QAbstractItemModel;
class QLabel;
class QPushButton;

// The detailed-content sheet: a larger outline over the pane's own content model, so a check
// box ticked here is ticked in the pane. Closing it has the pane reload its view.
class IDetailedContentDrawerController : public QDialog
{
    Q_OBJECT
public:
    IDetailedContentDrawerController(QAbstractItemModel* content, IDDOutlineViewController* controller,
        const QString& projectName, QWidget* parent = nullptr);

    // The column layout both content outlines share.
    static void setupOutline(IDDOutlineView* view);

    IDDOutlineView* contentView() const { return m_contentView; }
    QLabel* label() const { return m_label; }
    QPushButton* closeButton() const { return m_close; }

private:
    IDDOutlineView* m_contentView = nullptr;
    QLabel* m_label = nullptr;
    QPushButton* m_close = nullptr;
};
