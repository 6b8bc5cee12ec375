// Detaches the loop devices and mounts that earlier runs of this build's tests left behind:
// only devices whose backing file lies under the build's loop folder, never any other.
#include "LoopImage.h"

#include <QCoreApplication>
#include <QTextStream>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (::geteuid() != 0) {
        out << "not root: nothing to clean\n";
        return 0;
    }
    const QStringList args = app.arguments();
    const QString root = args.size() > 1 ? args.at(1) : LoopImage::loopRoot();
    if (!root.startsWith(QLatin1Char('/')) || root == QLatin1String("/")) {
        QTextStream(stderr) << "loop_cleanup: refusing folder " << root << "\n";
        return 2;
    }
    const QStringList log = LoopImage::cleanupStale(root);
    for (const QString& line : log)
        out << line << "\n";
    out << "loop cleanup under " << root << ": " << log.size() << " action(s)\n";
    return 0;
}
