// Test entry for the window: the program's own application object on the
// offscreen platform.
#include "TApplication.h"
#include "parser/THtmlParser.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_NO_GLIB", "1", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Settings (the address history) and the crawls recorded as they go
    // go to folders of this run's own.
    const QTemporaryDir config, data;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    TApplication app(argc, argv);
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
