// Linked into every test executable: the environment the tests expect, set before main()
// so that a case run alone (outside CTest) sees the same as under CTest. Values already in the
// environment win, so a developer can point a run elsewhere.
#include <cstdlib>
#include <filesystem>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        setenv("TZ", "UTC", 0);
        setenv("QT_MEDIA_BACKEND", "gstreamer", 0);
#ifdef MS_TEST_CONFIG_HOME
        std::error_code ec;
        std::filesystem::create_directories(MS_TEST_CONFIG_HOME, ec);
        setenv("XDG_CONFIG_HOME", MS_TEST_CONFIG_HOME, 0);
#endif
#ifdef MS_TEST_QPA_PLATFORM
        setenv("QT_QPA_PLATFORM", MS_TEST_QPA_PLATFORM, 0);
#endif
    }
};

const TestEnvironment environment;

}  // namespace
