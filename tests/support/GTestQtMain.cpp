// Test entry for code that needs a Qt event loop: a QCoreApplication, or a
// QApplication when built with MARROWBY_TEST_WIDGETS.
#include <gtest/gtest.h>

#include <cstdlib>

#ifdef MARROWBY_SKIP_FILE
#include "parser/THtmlParser.h"
#endif

#ifdef MARROWBY_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    // The plain Unix dispatcher delivers posted events inside the handler of
    // a posted event, as the window relies on.
    setenv("QT_NO_GLIB", "1", 0);
#ifdef MARROWBY_TEST_WIDGETS
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
    TestApplication app(argc, argv);
#ifdef MARROWBY_SKIP_FILE
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
