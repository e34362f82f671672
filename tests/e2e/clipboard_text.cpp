// Prints the text on the X display's clipboard, for the desktop end-to-end tests: what the
// program under test copied (a box's text, a pane's message) is read back as the user would
// paste it.

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    // The owner of the clipboard answers through the event loop.
    QTimer::singleShot(200, [] {
        std::fputs(QGuiApplication::clipboard()->text().toUtf8().constData(), stdout);
        QCoreApplication::quit();
    });
    return QGuiApplication::exec();
}
