// zorbelu's JSON strings are valid UTF-8 whatever bytes they are made of.
#include <gtest/gtest.h>

#include <string>

#include "json_text.h"

namespace {

std::string JsonString(const std::string& text) { return zorbelu::cli::JsonText(text); }

#define FFFD "\xEF\xBF\xBD"

TEST(JsonString, IllFormedUtf8BecomesReplacementCharacters) {
    const struct {
        const char* why;
        std::string text;
        std::string json;
    } cases[] = {
        {"well-formed text of 1 to 4 bytes", "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E", "\"a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E\""},
        {"quote, backslash, control bytes", std::string("\"\\\n\x01\x7F", 5) + '\0', "\"\\\"\\\\\\n\\u0001\x7F\\u0000\""},
        {"a stray continuation byte", "a\x80z", "\"a" FFFD "z\""},
        {"bytes that never start a sequence", "\xC0\xC1\xF5\xFF", "\"" FFFD FFFD FFFD FFFD "\""},
        {"an overlong two-byte form", "\xC0\xAF", "\"" FFFD FFFD "\""},
        {"an overlong three-byte form", "\xE0\x80\xAF", "\"" FFFD FFFD FFFD "\""},
        {"a surrogate", "\xED\xA0\x80", "\"" FFFD FFFD FFFD "\""},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\"" FFFD FFFD FFFD FFFD "\""},
        {"truncated at the end: one replacement", "a\xF0\x9D\x84", "\"a" FFFD "\""},
        {"truncated before other text", "\xE2\x82z\xE2", "\"" FFFD "z" FFFD "\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.why;
}

}  // namespace
