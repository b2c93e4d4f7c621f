#include <gtest/gtest.h>

#include <string>

#include "osc/core/OSCPatternMatching.h"

namespace rozuri {
namespace {

bool matches(const char* pattern, std::string_view address) {
    return matchesAddress(OSCAddressPattern(pattern), address);
}

TEST(OSCPatternMatching, EdgeCases) {
    struct Case {
        const char* pattern;
        const char* address;
        bool matches;
    };
    const Case cases[] = {
        {"/a/*", "/a/b", true},
        {"/a/*", "/a//", true},
        {"/a/*", "/a", false},
        {"/a/*", "/a/b/c", false},
        {"/*", "/a/b", false},
        {"", "/", false},
        {"/", "/", false},
        {"//", "/", false},
        {"//", "//", false},
        {"a/b", "/a/b", true},
        {"/a/b/", "/a/b", true},
        {"/a//b", "/a//b", true},
        {"/a//b", "/a/x/b", false},
        {"/*", "/", false},  // "/" has no components
        {"/a/*", "/a/", false},
        {"/x/*", "/x//", true},
        {"/***", "//", false},
        {"/a?", "/ab", true},
        {"/a?", "/a", false},
        {"/[!a-c]", "/d", true},
        {"/[!a-c]", "/b", false},
        {"/[a-z]", "/\xC3\xA9", false},
        {"/[!a-z]", "/\xC3\xA9", true},
        {"/[]", "/a", false},
        {"/[!]", "/a", true},
        {"/[!]", "/\xF0\x9F\x98\x80", true},
        {"/{a,ab}c", "/abc", true},
        {"/{ab,a}c", "/abc", true},
        {"/{a,ab}c", "/ac", true},
        {"/x{}y", "/xy", true},
        {"/?", "/e\xCC\x81", true},  // one character of two scalars
        {"/??", "/e\xCC\x81", false},
        {"/e", "/e\xCC\x81", false},  // a literal does not end inside a character
        {"/e*", "/e\xCC\x81", false},
        {"/*a*b", "/xaxb", true},
        {"/*a*b", "/xbxa", false},
        {"/mantleshade/show", "/mantleshade/show", true},
        {"/mantleshade/{show,clear}", "/mantleshade/clear", true},
        {"/[0-9][0-9]", "/42", true},
        {"/[a-]", "/-", true},
        {"/a[*]", "/a*", true},
        {"/\r\n", "/\r\n", true},
        {"/?", "/\r\n", true},
        {"/[\n]", "/\r\n", false},
        {"/[\n-\n]", "/\r\n", true},  // CR LF has the ASCII value of a line feed
    };
    for (const Case& c : cases)
        EXPECT_EQ(matches(c.pattern, c.address), c.matches) << c.pattern << " vs " << c.address;
}

TEST(OSCPatternMatching, ComponentFastPathsAgreeWithTheGeneralCase) {
    struct Case {
        const char* component;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"", "", true},     {"", "a", false},     {"*", "", true},        {"*", "anything", true},
        {"?", "", false},   {"abc", "abc", true}, {"abc", "abcd", false}, {"{}", "", true},
        {"{}", "a", false}, {"*{}", "a", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchComponent(c.text, OSCAddressPattern::Component(
                                             OSCAddressPattern::tokenize(c.component))),
                  c.matches)
            << c.component << " vs " << c.text;
}

TEST(OSCPatternMatching, TokenizedComponents) {
    EXPECT_TRUE(tokenizedComponents("").empty());
    EXPECT_TRUE(tokenizedComponents("/").empty());
    EXPECT_TRUE(tokenizedComponents("//").empty());
    EXPECT_EQ(tokenizedComponents("/a//b").size(), 3u);
    EXPECT_TRUE(tokenizedComponents("/a//b")[1].tokens.empty());
}

TEST(OSCPatternMatching, PathologicalPatternsFinish) {
    // Backtracking would try exponentially many splits here.
    std::string pattern = "/";
    for (int i = 0; i < 200; ++i) pattern += "*a";
    pattern += "*b";
    std::string address = "/" + std::string(5000, 'a');
    EXPECT_FALSE(matches(pattern.c_str(), address));
    EXPECT_TRUE(matches(pattern.c_str(), address + "b"));

    // Thousands of empty alternatives, and alternatives that all fit.
    std::string braces = "/";
    for (int i = 0; i < 20000; ++i) braces += "{}";
    braces += "x";
    EXPECT_TRUE(matches(braces.c_str(), "/x"));

    std::string alternatives = "/";
    for (int i = 0; i < 300; ++i) alternatives += "{a,aa,aaa}";
    EXPECT_FALSE(matches(alternatives.c_str(), "/" + std::string(1000, 'a') + "b"));
    EXPECT_TRUE(matches(alternatives.c_str(), "/" + std::string(900, 'a')));

    std::string questions = "/" + std::string(3000, '?') + "*";
    EXPECT_TRUE(matches(questions.c_str(), "/" + std::string(4000, 'z')));
}

}  // namespace
}  // namespace rozuri
