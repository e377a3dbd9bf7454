// The main of every GoogleTest executable. Built once per application object
// (none, QCoreApplication, QGuiApplication, QApplication); see CMakeLists.txt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(QUILLARY_TEST_APP_WIDGETS)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(QUILLARY_TEST_APP_GUI)
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#elif defined(QUILLARY_TEST_APP_CORE)
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv)
{
#if defined(QUILLARY_TEST_APP_GUI) || defined(QUILLARY_TEST_APP_WIDGETS)
    // Without a display an X test cannot even start its application; under
    // offscreen it runs far enough to report itself skipped.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    if (platform && std::strcmp(platform, "xcb") == 0 && (!display || !*display))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
#if defined(QUILLARY_TEST_APP_CORE) || defined(QUILLARY_TEST_APP_GUI) || defined(QUILLARY_TEST_APP_WIDGETS)
    TestApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
