#include <netdb.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Localization.h"

namespace foundation {
namespace {

TEST(Error, LocalizedDescriptionPrefersUserInfoElseFallback) {
    struct Case {
        Error error;
        std::string description;
        std::optional<std::string> reason;
    };
    const std::vector<Case> cases = {
        {Error("DispatchUdpSocketErrorDomain", 4,
               {{Error::kLocalizedDescriptionKey, "Socket closed"}}),
         "Socket closed", std::nullopt},
        {Error("DispatchUdpSocketErrorDomain", 3),
         "The operation couldn\u2019t be completed. (DispatchUdpSocketErrorDomain error 3.)",
         std::nullopt},
        {Error("X", -7, {{Error::kReasonKey, "r"}}),
         "The operation couldn\u2019t be completed. (X error -7.)", std::nullopt},
        {Error("X", 1, {{Error::kLocalizedFailureReasonKey, "Error in bind() function"}}),
         "The operation couldn\u2019t be completed. (X error 1.)", "Error in bind() function"},
        {Error("", 0), "The operation couldn\u2019t be completed. ( error 0.)", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.localizedDescription(), c.description);
        EXPECT_EQ(c.error.localizedFailureReason(), c.reason);
    }
}

TEST(Error, PosixCarriesErrnoTextAndOptionalReason) {
    Error withReason = Error::posix(EADDRINUSE, "Error in bind() function");
    EXPECT_EQ(withReason.domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(withReason.code, EADDRINUSE);
    EXPECT_EQ(withReason.localizedDescription(), "Address already in use");
    EXPECT_EQ(withReason.localizedFailureReason(), "Error in bind() function");

    Error bare = Error::posix(ECONNREFUSED);
    EXPECT_EQ(bare.localizedDescription(), "Connection refused");
    EXPECT_FALSE(bare.localizedFailureReason());
    EXPECT_EQ(bare.userInfo.count(Error::kLocalizedFailureReasonKey), 0u);

    // Unknown numbers still produce a readable, non-empty text.
    EXPECT_FALSE(Error::posix(99999).localizedDescription().empty());
}

TEST(Error, PosixDescriptionIsThreadSafe) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            int err = t % 2 ? ENOENT : EACCES;
            const char* want = t % 2 ? "No such file or directory" : "Permission denied";
            for (int i = 0; i < 2000; ++i)
                if (Error::posixDescription(err) != want) ++wrong;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Error, ResolverErrorsUseGaiText) {
    for (int code : {EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_FAMILY}) {
        Error e = Error::gai(code);
        EXPECT_EQ(e.domain, "kCFStreamErrorDomainNetDB");
        EXPECT_EQ(e.code, code);
        EXPECT_EQ(e.localizedDescription(), ::gai_strerror(code));
        EXPECT_EQ(Error::gaiDescription(code), ::gai_strerror(code));
    }
}

TEST(Localization, ProviderThenDefaultThenKey) {
    setLocalizationProvider({});
    EXPECT_EQ(localizedString("DispatchUdpSocket", "DispatchUdpSocketClosedError", "Socket closed"),
              "Socket closed");
    EXPECT_EQ(localizedString("T", "JustTheKey", ""), "JustTheKey");

    setLocalizationProvider(
        [](const std::string& table, const std::string& key) -> std::optional<std::string> {
            if (table == "DispatchUdpSocket" && key == "DispatchUdpSocketClosedError")
                return "Socket fermé";
            return std::nullopt;
        });
    EXPECT_EQ(localizedString("DispatchUdpSocket", "DispatchUdpSocketClosedError", "Socket closed"),
              "Socket fermé");
    // Same key in another table is not translated.
    EXPECT_EQ(localizedString("DispatchTcpSocket", "DispatchUdpSocketClosedError", "Socket closed"),
              "Socket closed");
    setLocalizationProvider({});
    EXPECT_EQ(localizedString("DispatchUdpSocket", "DispatchUdpSocketClosedError", "Socket closed"),
              "Socket closed");
}

TEST(Assert, HandlerReceivesTextAndIsSharedWithDispatch) {
    std::vector<std::string> seen;
    setAssertionHandler([&](const std::string& text, const char* file, int line) {
        seen.push_back(text + "@" + (file ? file : "") + ":" + std::to_string(line));
    });
    assertionFailure("Use the designated initializer", "DispatchUdpSocket", 12);
    MS_ASSERTION_FAILURE("Invalid logic");
    setAssertionHandler({});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Use the designated initializer@DispatchUdpSocket:12");
    EXPECT_TRUE(seen[1].starts_with("Invalid logic@")) << seen[1];
}

TEST(AssertDeathTest, DefaultHandlerAndFatalErrorAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(MS_FATAL("unreachable state"), "Fatal error: unreachable state");
    EXPECT_DEATH(assertionFailure("Must be dispatched on socketQueue", "F", 3),
                 "Must be dispatched on socketQueue");
}

}  // namespace
}  // namespace foundation
