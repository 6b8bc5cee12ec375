#pragma once

#include <QDateTime>
#include <QDialog>
#include <QPointer>

class IScheduleSuspendDialog;
class QComboBox;
class QLabel;
class QVAgentState;

// What a program that shows the suspend panel implements to receive the user's choice (the main
// application's hub and the agent). The choice is the dialog's scheduleResumeDate(): a date
// until which scheduled runs are suspended, or null for "unlimited time".
class IScheduleSuspendController
{
public:
    virtual ~IScheduleSuspendController() = default;
    virtual void SSD_OkButton(IScheduleSuspendDialog& dialog) = 0;
};

// The small floating panel in which the user suspends scheduled runs for a chosen time, and the
// owner of the texts of the schedule menu items and of the two shared date texts. The dialog
// only picks the resume date; its controller applies it to the scheduler state.
class IScheduleSuspendDialog : public QDialog
{
    Q_OBJECT
public:
    static IScheduleSuspendDialog& shared();
    explicit IScheduleSuspendDialog(QWidget* parent = nullptr);
    ~IScheduleSuspendDialog() override;

    // Null for a null date or the 1970 epoch; the user's short local form.
    static QString localStringFromDateTime(const QDateTime& date);
    // Null for a null date or the 1970 epoch; the system's one general form, shared with the
    // agent messages.
    static QString generalStringFromDateTime(const QDateTime& date);
    // "Resume Scheduler" (tag 2) when bit 1 is off or bit 2 on, else "Suspend Scheduler..." (tag 1).
    static QString scheduleEnabledToggleItemTitle(const QVAgentState& state);
    static int scheduleEnabledToggleItemTag(const QVAgentState& state);
    static QString scheduleEnabledCommentItemTitle(const QVAgentState& state);

    // Shows the panel at the pointer for the controller (an object implementing
    // IScheduleSuspendController); down: opened from a menu, so the panel goes below the pointer.
    void showWithController(QObject* controller, bool down);
    void okButton();
    void cancelButton();

    bool isScheduleEnebled() const { return _scheduleEnabled; }
    QDateTime scheduleResumeDate() const { return _scheduleResumeDate; }
    void setScheduleResumeDate(const QDateTime& date) { _scheduleResumeDate = date; }
    void setController(QObject* controller) { _controller = controller; }
    void setIcon(const QPixmap& image);
    // Now plus the minutes (the injectable clock).
    static QDateTime dateByAddingMinuteInterval(int minutes);

    QComboBox* suspendSchedulingPopup() const { return _suspendSchedulingPopup; }

    void reject() override; // Escape and the close button cancel

private:
    void createStopScheduleDialog();
    void showStopScheduleDialogDown(bool down);

    QComboBox* _suspendSchedulingPopup = nullptr;
    QLabel* _iconOnView = nullptr;
    bool _scheduleEnabled = false;
    QPointer<QObject> _controller;
    QDateTime _scheduleResumeDate;
};
