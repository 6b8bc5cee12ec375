// The reference for the application's start-up: a bare Qt program that shows a 740x500 main
// window and exits at its first expose. shell-bench starts it the way it starts the application.
#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

namespace {
class Window : public QMainWindow
{
protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return QMainWindow::event(e);
    }

private:
    bool m_done = false;
};
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window;
    window.resize(740, 500);
    window.show();
    return app.exec();
}
