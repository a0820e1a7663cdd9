#include "app/commandline.h"
#include "app/zef400widget.h"
#include "kubus/log/callstack.h"
#include "kubus/log/kulog.h"
#include "kubus/thread/threadutils.h"
#include "platform/rootpath.h"
#include "platform/scmhardware.h"

#include <QApplication>
#include <QDebug>
#include <QScreen>

#include <cstdlib>

int main(int argc, char** argv)
{
    printCallStackOnCrash();

    if (Common::initScmFramebuffer() != 0)
        return 1;
    Common::initScmKeypad();

    // Qt 4's QWSServer::setCursorVisible(false): the framebuffer platform reads this instead.
    qputenv("QT_QPA_FB_HIDECURSOR", "1");
    // Qt 4 made the program the window-system server; now it draws straight onto the
    // framebuffer, or off screen under a stand-in root.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", Platform::haveRoot() ? "offscreen" : "linuxfb");

    Kubus::useQtEventDispatcher();
    // Lives until the process ends.
    QApplication* application = new QApplication(argc, argv);

    const QStringList arguments = QApplication::arguments();

    qDebug().noquote() << "Show help with --help or -h";
    if (CommandLine::wantsHelp(arguments)) {
        CommandLine::printHelp();
        std::exit(0);
    }

    const CommandLine::ForceSelections selections = CommandLine::parseForcedUpdates(arguments);

    Zef400Widget window;
    window.setReadOnly(arguments.contains(QLatin1String("--readonly")));
    CommandLine::applyForcedUpdates(window, selections);

    // A bare X server has no window manager to carry out the full-screen state; the screen's
    // geometry makes the window full screen there too.
    window.setGeometry(window.screen()->geometry());
    window.showFullScreen();
    const int result = application->exec();

    window.stop();
    Kubus::kuPrint("About to exit app.", "int main(int, char**)");
    return result;
}
