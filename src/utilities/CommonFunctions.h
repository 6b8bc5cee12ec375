#pragma once

#include "utilities/ICommon.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <string>

class ILocationInfo;
class QObject;
class QPainter;
class QWindow;

// Identity of the application, from the tree's Info.plist.
QString mainAppId();
QString mainPrefId();
QString QVAppName();

// True on the main thread.
bool QVMainThread();
// Repaints a view (any object with the slots update() and repaint()) now; main thread only.
void QVControlRedraw(QObject* view);
// Runs pending events and timers during long work on the main thread. The modal depth is
// raised meanwhile, so the schedule and queue timers stay quiet.
void QVProcessEvents();
void QVRunLoop(int count);
// Seconds since the system started.
double QVSecCount();

qint64 QVSystemVersion();
QString QVSystemVersionString();
// 1, -1 or 0; the patch counts only when the Info.plist key "g_SysVersionCompareLevel" is 1.
int QVSysVersionsCompare(const SystemVersion& a, const SystemVersion& b);
void setSysVersionCompareLevel(int level); // start-up value from Info.plist; tests

// A new unique path in the temporary folder; null on failure.
QString QVGenerateTempFileName();
QString QVGenerateTempFolder();

// The mount point of the volume holding path (whole path components); null when none.
QString QVMountPointForPath(const QString& path);
// "loop3s256" or "/dev/loop3s256" -> "loop3"; null for other forms.
QString QVContainerForVolume(const QString& device);

// The last status text per function name.
void QVSetFuncStatus(const QString& funcName, const QString& text);
QString QVFuncStatus(const QString& funcName);

// Rsync exclude-list escaping: backslashes doubled, then "[", "]", "{", "}" escaped.
QString shieldingCharactersForRsyncExcludeList(const QString& text);
// Shell escaping of ten characters (blank ! " ( ) < > \ ` ~) and its reverse.
std::string escape_str(const std::string& source);
std::string unescape_str(const std::string& source);

// One line describing a location's volume for logs; null without a location.
QString infoTextForLocation(ILocationInfo* location);

// Drawing into images.
QImage* getBitmapImageRep(QImage* image);
QPainter* lockFocus(QImage* image); // nullptr for a null or empty image
void unlockFocus(QPainter* painter); // ends and deletes the painter of lockFocus
QColor convertToRGB(const QColor& colour);

// Synthetic mouse event to the window under (x, y) in screen coordinates.
void postMouseEvent(int button, int eventType, int x, int y);
void activateWindow(QWindow* window);
// No script host on this system: always -1.
qint32 appleScriptExecute(const QString& source);

// Named images of the resources.
QImage imageForSyncType(int type);
void loadGraphics();
QImage cloneStatusImage(int which); // 0 ok, 1 warning, 2 error (after loadGraphics)

// Message tables; an index outside a table gives an empty text.
QString workMessageString(int index);
QString backupDestStatus(int index);
QString QVToolTipStr(int index);
