#include <QApplication>
#include <QThreadPool>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <vector>

#include "app/app_context.h"
#include "app/main_app_view.h"
#include "app/notification_bridge.h"
#include "app/theme.h"
#include "pipeline/task_processor.h"
#include "platform/console.h"
#include "service/network_service.h"

int main(int argc, char** argv) {
    // Answered without a display, like every Quillora binary.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            std::cout << "quillora " QUILLORA_VERSION "\n";
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::cout << "Usage: quillora [FILE...]\n\n"
                         "The Quillora desktop client. Scripts and recordings named here are "
                         "added to the task dashboard.\n\n"
                         "Example:\n  quillora script.docx interview.mp4\n";
            return 0;
        }
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName("Quillora");
    QApplication::setApplicationDisplayName("Quillora");
    QApplication::setDesktopFileName("com.kestrunelabs.quillora");
    quillora::applyTheme(application);

    quillora::AppContext& context = quillora::AppContext::shared();
    quillora::NotificationBridge bridge(context.notifications);
    bridge.watch(context.auth);
    int status = 0;
    {
        quillora::RootWindow window(context, bridge);
        // Files opened from the file manager or named on the command line.
        std::vector<std::filesystem::path> files;
        for (const QString& argument : QApplication::arguments().mid(1))
            files.emplace_back(argument.toStdString());
        if (!files.empty() && !window.mainView()->openFiles(files)) {
            quillora::console("⚠️ 没有界面能打开这些文件: " +
                              QApplication::arguments().mid(1).join(" ").toStdString());
        }
        window.show();
        status = QApplication::exec();
        // Nothing may call back into the window once it is gone.
        context.network.stopNewlyOrdersTimer();
        context.processor.cancelAllTasks();
        QThreadPool::globalInstance()->waitForDone();
    }
    return status;
}
