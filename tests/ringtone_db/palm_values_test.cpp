#include "ringtone_db/palm_values.h"

#include <gmock/gmock.h>
#include <string>

namespace chwr {
namespace {

using ::testing::HasSubstr;

TEST(TrimAtNulTest, KeepsWhatStandsBeforeTheFirstNul)
{
    EXPECT_EQ(TrimAtNul(std::string("abc\0def", 7)), "abc");
    EXPECT_EQ(TrimAtNul(std::string("\0abc", 4)), "");
    EXPECT_EQ(TrimAtNul(std::string("abc")), "abc");
    EXPECT_EQ(TrimAtNul(std::string()), "");
    // Only code 0 ends the text.
    EXPECT_EQ(TrimAtNul(std::string("a\x01\xFF")), "a\x01\xFF");
    EXPECT_EQ(TrimAtNul(Bytes{'M', 'I', 'D', 'I', 0, 0, 'x'}), (Bytes{'M', 'I', 'D', 'I'}));
}

TEST(BytesToNumberTest, ReadsOneToFourBytesMostSignificantFirst)
{
    EXPECT_EQ(*BytesToNumber(Bytes{0x00, 0x00, 0x01, 0x00}), 256);
    EXPECT_EQ(*BytesToNumber(Bytes{0xFF}), 255);
    EXPECT_EQ(*BytesToNumber(Bytes{0x00, 0x3A, 0x98}), 15000);
    EXPECT_EQ(*BytesToNumber(Bytes{0xFF, 0xFF, 0xFF}), 16777215);
    EXPECT_EQ(*BytesToNumber(Bytes{0x01, 0xE0}), 480);
}

TEST(BytesToNumberTest, FourBytesGiveTheTwosComplementValue)
{
    EXPECT_EQ(*BytesToNumber(Bytes{0x80, 0x00, 0x00, 0x00}), -2147483647 - 1);
    EXPECT_EQ(*BytesToNumber(Bytes{0xFF, 0xFF, 0xFF, 0xFF}), -1);
    EXPECT_EQ(*BytesToNumber(Bytes{0x7F, 0xFF, 0xFF, 0xFF}), 2147483647);
}

TEST(BytesToNumberTest, RefusesEmptyAndLongerRuns)
{
    auto empty = BytesToNumber(Bytes{});
    ASSERT_FALSE(empty);
    EXPECT_THAT(empty.error(), HasSubstr("1 to 4 bytes, not 0"));
    auto five = BytesToNumber(Bytes{1, 2, 3, 4, 5});
    ASSERT_FALSE(five);
    EXPECT_THAT(five.error(), HasSubstr("not 5"));
}

TEST(BigEndianTest, ReadsAtAnOffsetAndRefusesToReadPastTheEnd)
{
    const Bytes bytes = {0xAA, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(*readUint16BigEndian(bytes, 1), 0x1234);
    EXPECT_EQ(*readUint24BigEndian(bytes, 2), 0x345678u);
    EXPECT_EQ(*readUint32BigEndian(bytes, 1), 0x12345678u);
    EXPECT_EQ(*readUint32BigEndian(bytes, 0), 0xAA123456u);

    auto past = readUint32BigEndian(bytes, 2);
    ASSERT_FALSE(past);
    EXPECT_THAT(past.error(),
                HasSubstr("32-bit number at offset 2 lies beyond the end of the data (5 bytes)"));
    EXPECT_FALSE(readUint16BigEndian(bytes, 4));
    EXPECT_FALSE(readUint16BigEndian(bytes, std::size_t(-1)));
}

TEST(BigEndianTest, WritesMostSignificantByteFirst)
{
    Bytes out;
    appendUint16BigEndian(out, 0x0102);
    appendUint24BigEndian(out, 0xAA003A98);
    appendUint32BigEndian(out, 0xFFFFFFFF);
    appendUint32BigEndian(out, static_cast<std::uint32_t>(-2));
    EXPECT_EQ(out, (Bytes{0x01, 0x02, 0x00, 0x3A, 0x98, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));
}

} // namespace
} // namespace chwr
