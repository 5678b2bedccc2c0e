// The desktop program's tests need a QApplication; without a display they run
// on Qt's offscreen platform.

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// The offscreen platform warns about every fixed-size dialog it shows; that
// says nothing about the program, so it is dropped. Everything else is kept.
QtMessageHandler defaultHandler = nullptr;

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QStringLiteral("does not support propagateSizeHints"))) {
        return;
    }
    defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    defaultHandler = qInstallMessageHandler(messageHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VeltranaMFC"));
    return RUN_ALL_TESTS();
}
