// The main of every GoogleTest executable. Built once per application object
// (none, QCoreApplication, QGuiApplication, QApplication); see CMakeLists.txt.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

namespace {

// CTest reports a test as skipped when its output matches this line (see
// quillary_add_test). It is printed only when no case failed: CTest's skip
// pattern wins over the exit code, so GoogleTest's own "[  SKIPPED ]" lines,
// which also appear beside failures, would hide a failing run.
class SkipReport : public ::testing::EmptyTestEventListener
{
    void OnTestProgramEnd(const ::testing::UnitTest& test) override
    {
        if (test.Passed() && test.skipped_test_count() > 0)
            std::printf("quillary-test: %d of %d cases skipped\n", test.skipped_test_count(),
                        test.test_to_run_count());
        std::fflush(stdout);
    }
};

// CTest gives every test a private HOME and XDG folders (quillary_add_test).
// A test binary started by hand gets fresh ones too, so that no test reads or
// writes the profile of whoever runs it.
void usePrivateProfileWhenRunByHand()
{
    if (std::getenv("QUILLARY_TEST_SOURCE_DIR"))
        return;
    static char home[] = "/tmp/quillary-test-home.XXXXXX";
    if (!mkdtemp(home)) {
        std::perror("quillary-test: no private HOME");
        std::exit(1);
    }
    const std::string base(home);
    setenv("HOME", home, 1);
    setenv("XDG_DATA_HOME", (base + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base + "/.config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (base + "/.cache").c_str(), 1);
}

} // namespace

int main(int argc, char** argv)
{
    usePrivateProfileWhenRunByHand();
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
    ::testing::UnitTest::GetInstance()->listeners().Append(new SkipReport);
    return RUN_ALL_TESTS();
}
