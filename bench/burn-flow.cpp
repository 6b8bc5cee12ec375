// The disc flow of the application, headless, for burn-bench: the files given are burned by
// DiscBurnFlow onto DRIVE, the setup answered with that drive and every other question with
// Cancel. Prints "timing: burn <seconds>" (first xorriso start to the end of the last) and
// "timing: total <seconds>" on stderr, and writes every xorriso vector it ran to ARGV_FILE (each
// element followed by a NUL, an empty element after each vector).
// Usage: burn-flow DRIVE ARGV_FILE FILE...   (exit 0 when every file reached the disc)
#include "archive/DiscBurnFlow.h"
#include "platform/NameCodec.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

class OneDrivePrompts : public HeadlessUiPrompts
{
public:
    explicit OneDrivePrompts(const QString& drive)
        : m_drive(drive)
    { }
    BurnSetupAnswer askBurnSetup(const BurnSetupRequest& request) override
    {
        BurnSetupAnswer answer;
        answer.ok = request.discNumber == 1 && !m_asked;
        answer.drive = m_drive;
        answer.appendable = false;
        m_asked = true;
        return answer;
    }
    int showAlert(const Alert& alert) override
    {
        std::fprintf(stderr, "alert: %s\n", qPrintable(alert.title));
        return alert.buttons.size() > 1 ? 1 : 0;
    }

private:
    QString m_drive;
    bool m_asked = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: burn-flow DRIVE ARGV_FILE FILE...\n");
        return 2;
    }
    QElapsedTimer total;
    total.start();
    OneDrivePrompts prompts(args.at(1));
    UiPrompts::setShared(&prompts);
    QFile argvFile(args.at(2));
    if (!argvFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "burn-flow: cannot write %s\n", qPrintable(args.at(2)));
        return 2;
    }
    std::vector<DiscBurnFlow::Entry> files;
    for (int i = 3; i < args.size(); ++i)
        files.emplace_back(args.at(i), QLatin1Char('/') + QFileInfo(args.at(i)).fileName());
    DiscBurnFlow flow;
    flow.setDrives({ args.at(1) });
    flow.setConfiguredDrives({ args.at(1) });
    QObject::connect(&flow, &DiscBurnFlow::burnerStarted, [&argvFile](qint64, const QStringList& argv) {
        for (const QString& word : argv)
            argvFile.write(NameCodec::encode(word) + '\0');
        argvFile.write(QByteArray(1, '\0'));
        argvFile.flush();
    });
    const bool burnt = flow.burnDisc(files);
    std::fprintf(stderr, "timing: burn %.3f\ntiming: total %.3f\n", flow.burnSeconds(), double(total.elapsed()) / 1000.0);
    UiPrompts::setShared(nullptr);
    return burnt ? 0 : 1;
}
