#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// Writes Bytes to Dir/RelativePath, creating folders on the way; returns the full path.
QString writeFile(const QString &dir, const QString &relativePath, const QByteArray &bytes);

// Points XDG_CACHE_HOME at a new temporary folder, kept until the program ends, so that no
// test reads or fills the user's cache of extracted texts (child processes inherit it).
// Returns the folder. Call it before the first content test or preview.
QString useTemporaryCacheHome();

// Points XDG_CONFIG_HOME at a new temporary folder, kept until the program ends, so that no
// test reads or changes the user's configuration (language choice, checked folders). Returns
// the folder. Call it before anything reads the configuration.
QString useTemporaryConfigHome();

// Runs the program on the offscreen platform with these screens (JSON objects with name, x,
// y, width, height, logicalDpi; the first is the primary one), instead of its one 800 x 600
// screen. Call it before the application object exists.
void useOffscreenScreens(const QByteArray &screens);

// A main() that runs the test class on one large screen, where the designed window fits.
#define DELVORA_TEST_MAIN_LARGE_SCREEN(TestObject)                                                 \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        testsupport::useOffscreenScreens(R"({"name": "large", "x": 0, "y": 0, "width": 1920, )"    \
                                         R"("height": 1200, "logicalDpi": 96})");                  \
        QApplication app(argc, argv);                                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

} // namespace testsupport
