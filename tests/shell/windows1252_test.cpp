#include "shell/windows1252.h"

#include <gmock/gmock.h>

namespace chwr {
namespace {

Bytes allBytes()
{
    Bytes bytes;
    for (int b = 0; b < 256; ++b)
        bytes.push_back(static_cast<std::uint8_t>(b));
    return bytes;
}

TEST(Windows1252Test, ShowsTheCodePagesCharacters)
{
    EXPECT_EQ(windows1252ToUtf8(asBytes("Ring")), "Ring");
    EXPECT_EQ(windows1252ToUtf8(Bytes{0x80}), "\xE2\x82\xAC"); // euro sign
    EXPECT_EQ(windows1252ToUtf8(Bytes{0x99}), "\xE2\x84\xA2"); // trade mark sign
    EXPECT_EQ(windows1252ToUtf8(Bytes{0x9F}), "\xC5\xB8");     // Y with diaeresis
    EXPECT_EQ(windows1252ToUtf8(Bytes{'C', 'a', 'f', 0xE9}), "Caf\xC3\xA9");
    EXPECT_EQ(windows1252ToUtf8(Bytes{0xA0}), "\xC2\xA0"); // no-break space
}

TEST(Windows1252Test, EveryByteStringSurvivesTheRoundTrip)
{
    const Bytes bytes = allBytes();
    EXPECT_EQ(utf8ToWindows1252(windows1252ToUtf8(bytes)), bytes);
}

TEST(Windows1252Test, EncodesNewNamesWithAQuestionMarkForWhatItCannotHold)
{
    EXPECT_EQ(utf8ToWindows1252("Caf\xC3\xA9 \xE2\x82\xAC"), (Bytes{'C', 'a', 'f', 0xE9, ' ', 0x80}));
    // Greek alpha, a CJK character and an emoji are not in the code page.
    EXPECT_EQ(utf8ToWindows1252("\xCE\xB1-\xE4\xB8\xAD-\xF0\x9F\x8E\xB5"), (Bytes{'?', '-', '?', '-', '?'}));
}

TEST(Windows1252Test, InvalidUtf8BecomesOneQuestionMarkPerByte)
{
    // A lone continuation byte, a truncated sequence, an overlong "/" and a surrogate.
    EXPECT_EQ(utf8ToWindows1252("a\x80"
                                "b"),
              (Bytes{'a', '?', 'b'}));
    EXPECT_EQ(utf8ToWindows1252("a\xE2\x82"), (Bytes{'a', '?', '?'}));
    EXPECT_EQ(utf8ToWindows1252("\xC0\xAF"), (Bytes{'?', '?'}));
    EXPECT_EQ(utf8ToWindows1252("\xED\xA0\x80"), (Bytes{'?', '?', '?'}));
}

} // namespace
} // namespace chwr
