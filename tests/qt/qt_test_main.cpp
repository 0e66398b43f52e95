// Widget tests need a QApplication for their whole run; without a display they use the
// offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("eftmemb_qt_tests"));
    // A desktop's larger system font reaches a Qt program as the application font its platform
    // theme sets before any widget is made; EFT_TEST_FONT_SCALE does the same here.
    if (const double scale = qEnvironmentVariable("EFT_TEST_FONT_SCALE").toDouble(); scale > 0) {
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        QApplication::setFont(font);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
