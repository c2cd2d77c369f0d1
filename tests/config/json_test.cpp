#include "config/json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

struct ErrorCase {
    std::string text;
    std::string error;
};

TEST(Json, ReportsTheFirstErrorWithItsText) {
    const std::vector<ErrorCase> cases = {
        {"", "Unexpected end of input"},
        {"\xEF\xBB\xBF \r\n\t", "Unexpected end of input"},
        {" \xEF\xBB\xBF{}", "Unexpected token"},
        {"{} x", "Unexpected trailing characters"},
        {"truex", "Unexpected trailing characters"},
        {"0x10", "Unexpected trailing characters"},
        {"{", "Unterminated object"},
        {"{\"a\":1", "Unterminated object"},
        {"{\"a\":1,", "Unterminated object"},
        {"{\"a\":1,}", "Expected string key"},
        {"{1:2}", "Expected string key"},
        {"{\"a\" 1}", "Expected ':' after key"},
        {"{\"a\":1 \"b\":2}", "Expected ',' or '}'"},
        {"{\"a\":}", "Unexpected token"},
        {"[1,]", "Unexpected token"},
        {"[1 2]", "Expected ',' or ']'"},
        {"[1,", "Unterminated array"},
        {"[", "Unterminated array"},
        {"[truex]", "Expected ',' or ']'"},
        {"\"abc", "Unterminated string"},
        {"\"", "Unterminated string"},
        {"\"\\", "Invalid escape sequence"},
        {"\"\\x\"", "Invalid escape character"},
        {"\"\\\xC3\xA9\"", "Invalid escape character"},
        {"\"\\u12", "Invalid unicode escape"},
        {"\"\\u12\"", "Invalid unicode escape"},
        {"\"\\u12g4\"", "Invalid unicode escape"},
        {"-", "Invalid number"},
        {"1e", "Invalid number"},
        {"1e+", "Invalid number"},
        {"-e5", "Invalid number"},
        {"tru", "Invalid boolean"},
        {"fals", "Invalid boolean"},
        {"nul", "Invalid null"},
        {"+1", "Unexpected token"},
        {"[[1, tru], {\"a\": \"\\x\"}]", "Invalid boolean"},
    };
    for (const ErrorCase& c : cases) {
        const JsonParseResult result = parseJson(c.text);
        EXPECT_FALSE(result.ok) << c.text;
        EXPECT_EQ(result.error, c.error) << c.text;
    }
    // A failed container discards what it had read.
    EXPECT_EQ(parseJson("{\"a\":[1,2,x]}").root.kind, JsonType::Null);
}

TEST(Json, ReadsLenientNumbersAndRangeLikeStrtod) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"1.", 1.0},          {"-.5", -0.5},
        {"01", 1.0},          {"1.e5", 100000.0},
        {"2.5E-1", 0.25},     {" 42 ", 42.0},
        {"-0", 0.0},          {"1e-400", 0.0},
        {"0.000001e-330", 0}, {"123456789012345678901234567890", 1.2345678901234568e29},
    };
    for (const auto& [text, number] : cases) {
        const JsonParseResult result = parseJson(text);
        ASSERT_TRUE(result.ok) << text << ": " << result.error;
        EXPECT_TRUE(result.error.empty());
        EXPECT_EQ(result.root.kind, JsonType::Number);
        EXPECT_DOUBLE_EQ(result.root.number, number) << text;
    }
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(parseJson("1e400").root.number, inf);
    EXPECT_EQ(parseJson("-12.5e99999999999999999999").root.number, -inf);
    // The written exponent alone does not tell overflow from underflow.
    EXPECT_EQ(parseJson("1" + std::string(400, '0') + "e-10").root.number, inf);
    EXPECT_EQ(parseJson("0." + std::string(400, '0') + "1e10").root.number, 0.0);
    EXPECT_TRUE(std::signbit(parseJson("-1e-400").root.number));
}

TEST(Json, NumbersIgnoreTheGlobalLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German",
                           "fr_FR.UTF-8"};
    const char* chosen = nullptr;
    for (const char* name : names) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
    const JsonParseResult result = parseJson("[1.5, 2,5]");
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_TRUE(result.ok) << chosen;
    ASSERT_EQ(result.root.array.size(), 3u);
    EXPECT_EQ(result.root.array[0].number, 1.5);
}

TEST(Json, ObjectsKeepTheFirstDuplicateAndIterateInByteOrder) {
    const JsonParseResult result = parseJson(
        "{\"b\":1, \"a\":1, \"a\":2, \"\xC3\xA9\":3, \"B\":0, \"ab\":[], \"a\":3,"
        " \"o\":{\"b\":1, \"b\":2}, \"\\u00e9\":4}");
    ASSERT_TRUE(result.ok) << result.error;
    std::vector<std::string> keys;
    for (const auto& member : result.root.object)
        keys.push_back(member.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b", "o", "\xC3\xA9"}));
    EXPECT_EQ(result.root.object.at("a").number, 1.0);
    EXPECT_EQ(result.root.object.at("\xC3\xA9").number, 3.0);
    // Each duplicate once, in the order met, also when escaped differently.
    EXPECT_EQ(result.duplicateKeys, (std::vector<std::string>{"a", "b", "\xC3\xA9"}));

    std::string many = "{";
    for (int i = 0; i < 40; ++i)
        many += "\"k" + std::to_string(i) + "\":1, \"k" + std::to_string(i) + "\":2, ";
    EXPECT_EQ(parseJson(many + "\"z\":0}").duplicateKeys.size(), kMaxDuplicateKeys);
    EXPECT_TRUE(parseJson("{\"a\":{\"x\":1}, \"b\":{\"x\":1}}").duplicateKeys.empty());
}

// \u escapes become UTF-8, so escaped names (as scripts write them) survive
// and stay distinct; a surrogate without its partner becomes '?'.
TEST(Json, StringsKeepBytesAndDecodeEscapesToUtf8) {
    const JsonParseResult result = parseJson(
        "[\"\\u00e9\", \"\\u0041\\u007F\", \"\xC3\xA9\", \"\\ud83d\\ude00\", \"a\\u0000b\","
        " \"\\\"\\\\\\/\\b\\f\\n\\r\\t\", \"raw\ttab\nline\x01\", \"\\u07FF\\u0800\\u20AC\\uFFFF\","
        " \"\\ud83dx\", \"\\ude00\", \"\\uD83D\\u0041\", \"\\ud83d\\ud83d\\ude00\\udbff\\udfff\"]");
    ASSERT_TRUE(result.ok) << result.error;
    const std::vector<std::string> expected = {"\xC3\xA9",
                                               "A\x7F",
                                               "\xC3\xA9",
                                               "\xF0\x9F\x98\x80",
                                               std::string("a\0b", 3),
                                               "\"\\/\b\f\n\r\t",
                                               "raw\ttab\nline\x01",
                                               "\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF",
                                               "?x",
                                               "?",
                                               "?A",
                                               "?\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"};
    ASSERT_EQ(result.root.array.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(result.root.array[i].string, expected[i]) << i;
    }
    const JsonParseResult keys = parseJson("{\"caf\\u00e9\":1, \"caf\\u00e8\":2}");
    EXPECT_EQ(keys.root.object.size(), 2u);
    EXPECT_EQ(parseJson("\"\\ud83d\\u12\"").error, "Invalid unicode escape");
    EXPECT_TRUE(parseJson("[true,false,null]").ok);
}

TEST(Json, NestingIsBoundedWellAboveRealFiles) {
    const auto nested = [](int depth) {
        return std::string(static_cast<std::size_t>(depth), '[') +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    EXPECT_TRUE(parseJson(nested(256)).ok);
    EXPECT_EQ(parseJson(nested(257)).error, "Nesting too deep");
    EXPECT_EQ(parseJson(std::string(100000, '[')).error, "Nesting too deep");
    std::string objects;
    for (int i = 0; i < 100000; ++i)
        objects += "{\"a\":";
    const JsonParseResult result = parseJson(objects);
    EXPECT_EQ(result.error, "Nesting too deep");
    EXPECT_EQ(result.root.kind, JsonType::Null);
}

TEST(Json, TypedLookupsTruncateAndLeaveOutputUntouchedOnMismatch) {
    const JsonValue root =
        parseJson(
            "{\"n\":3.99, \"neg\":-2.9, \"big\":3e9, \"max\":2147483647.9, \"inf\":1e400,"
            " \"s\":\"text\", \"o\":{\"k\":1}, \"t\":true}")
            .root;
    std::int32_t value = 7;
    EXPECT_TRUE(getInt(root, "n", value));
    EXPECT_EQ(value, 3);
    EXPECT_TRUE(getInt(root, "neg", value));
    EXPECT_EQ(value, -2);
    EXPECT_TRUE(getInt(root, "max", value));
    EXPECT_EQ(value, 2147483647);
    for (const char* key : {"big", "inf"}) {
        EXPECT_TRUE(getInt(root, key, value));
        EXPECT_EQ(value, std::numeric_limits<std::int32_t>::min()) << key;
    }
    value = 7;
    EXPECT_FALSE(getInt(root, "s", value));
    EXPECT_FALSE(getInt(root, "t", value));
    EXPECT_FALSE(getInt(root, "absent", value));
    EXPECT_FALSE(getInt(root.object.at("n"), "n", value));
    EXPECT_EQ(value, 7);

    std::string text = "keep";
    EXPECT_FALSE(getString(root, "n", text));
    EXPECT_EQ(text, "keep");
    EXPECT_TRUE(getString(root, "s", text));
    EXPECT_EQ(text, "text");

    const JsonValue* object = nullptr;
    EXPECT_FALSE(getObject(root, "s", object));
    EXPECT_EQ(object, nullptr);
    EXPECT_TRUE(getObject(root, "o", object));
    EXPECT_EQ(object, &root.object.at("o"));
}

}  // namespace
