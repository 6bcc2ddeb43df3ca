#include <QApplication>
#include <QTest>
#include <memory>

#include "app/theme.h"

namespace quillora {
QObject* makeAppTest();
QObject* makeToolScreensTest();
}  // namespace quillora

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    quillora::applyTheme(application);
    int failures = 0;
    for (auto make : {quillora::makeAppTest, quillora::makeToolScreensTest}) {
        std::unique_ptr<QObject> suite(make());
        failures += QTest::qExec(suite.get(), argc, argv);
    }
    return failures;
}
