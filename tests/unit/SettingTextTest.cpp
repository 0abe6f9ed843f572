#include "settings/SettingText.h"

#include <gtest/gtest.h>

#include <string>

#include "kit/Exceptions.h"

namespace {

struct IntegerCase {
    std::string Text;
    bool Valid;
    int32_t Value;
};

void PrintTo(const IntegerCase& Case, std::ostream* Os) {
    *Os << '"' << Case.Text << '"';
}

class TryStrToIntTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(TryStrToIntTest, ReadsOnlyWholeIntegerTexts) {
    const IntegerCase& Case = GetParam();
    // A refused text must leave the caller's value alone.
    int32_t Value = 12345;
    EXPECT_EQ(TryStrToInt(Case.Text, Value), Case.Valid);
    EXPECT_EQ(Value, Case.Valid ? Case.Value : 12345);
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, TryStrToIntTest,
    ::testing::Values(IntegerCase{"0", true, 0}, IntegerCase{"1", true, 1}, IntegerCase{"19200", true, 19200},
                      IntegerCase{"-1", true, -1}, IntegerCase{"+42", true, 42}, IntegerCase{"  7", true, 7},
                      IntegerCase{"\t-8", true, -8}, IntegerCase{"007", true, 7},
                      IntegerCase{"00000000000000000000001", true, 1},
                      IntegerCase{"2147483647", true, 2147483647},
                      IntegerCase{"-2147483648", true, -2147483647 - 1}, IntegerCase{"2147483648", false, 0},
                      IntegerCase{"-2147483649", false, 0}, IntegerCase{"99999999999999999999", false, 0}));

INSTANTIATE_TEST_SUITE_P(
    Hexadecimal, TryStrToIntTest,
    ::testing::Values(IntegerCase{"$10", true, 16}, IntegerCase{"x1f", true, 31},
                      IntegerCase{"X1F", true, 31}, IntegerCase{"0x10", true, 16},
                      IntegerCase{"0X10", true, 16}, IntegerCase{"0x0", true, 0},
                      IntegerCase{"-0x10", true, -16}, IntegerCase{" $aBc", true, 0xABC},
                      IntegerCase{"$7FFFFFFF", true, 2147483647}, IntegerCase{"$FFFFFFFF", true, -1},
                      IntegerCase{"0x80000000", true, -2147483647 - 1}, IntegerCase{"$100000000", false, 0},
                      IntegerCase{"0x0000000000000001", true, 1}, IntegerCase{"-$1", true, -1}));

INSTANTIATE_TEST_SUITE_P(
    NotIntegers, TryStrToIntTest,
    ::testing::Values(IntegerCase{"", false, 0}, IntegerCase{"   ", false, 0}, IntegerCase{"abc", false, 0},
                      IntegerCase{"true", false, 0}, IntegerCase{"+", false, 0}, IntegerCase{"-", false, 0},
                      IntegerCase{"$", false, 0}, IntegerCase{"x", false, 0}, IntegerCase{"0x", false, 0},
                      IntegerCase{"12a", false, 0}, IntegerCase{"1 ", false, 0}, IntegerCase{"1.0", false, 0},
                      IntegerCase{"1e3", false, 0}, IntegerCase{"- 5", false, 0},
                      IntegerCase{"--1", false, 0}, IntegerCase{"+-1", false, 0},
                      IntegerCase{"0x-1", false, 0}, IntegerCase{"$$1", false, 0},
                      IntegerCase{"1f", false, 0}, IntegerCase{"0xG", false, 0}, IntegerCase{"\n1", false, 0},
                      IntegerCase{std::string("1\0"
                                              "2",
                                              3),
                                  false, 0}));

TEST(StrToIntTest, RaisesTheConvertErrorWithTheText) {
    EXPECT_EQ(StrToInt("115200"), 115200);
    EXPECT_EQ(StrToInt("$4B00"), 19200);
    for (const std::string Text : {"abc", "", "9600 baud"}) {
        try {
            StrToInt(Text);
            ADD_FAILURE() << "no error for \"" << Text << '"';
        } catch (const EConvertError& Error) {
            EXPECT_EQ(Error.Message(), "'" + Text + "' is not a valid integer value");
        }
    }
}

TEST(SettingTextToBoolTest, NonZeroIsTrueAndUnreadableTextGivesTheDefault) {
    const struct {
        const char* Text;
        bool WithFalseDefault;
        bool WithTrueDefault;
    } Cases[] = {
        {"1", true, true},    {"2", true, true},     {"-1", true, true},          {"0x10", true, true},
        {"0", false, false},  {"0x0", false, false}, {"$0", false, false},        {"", false, true},
        {"yes", false, true}, {"1x", false, true},   {"4294967296", false, true},
    };
    for (const auto& Case : Cases) {
        EXPECT_EQ(SettingTextToBool(Case.Text, false), Case.WithFalseDefault) << '"' << Case.Text << '"';
        EXPECT_EQ(SettingTextToBool(Case.Text, true), Case.WithTrueDefault) << '"' << Case.Text << '"';
    }
}

TEST(SettingTextToBoolTest, StoredBooleansReadBackAsWritten) {
    for (const bool Value : {false, true}) {
        EXPECT_EQ(SettingTextToBool(BoolToSettingText(Value), !Value), Value);
    }
    EXPECT_STREQ(BoolToSettingText(true), "1");
    EXPECT_STREQ(BoolToSettingText(false), "0");
}

} // namespace
