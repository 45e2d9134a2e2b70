#include <gtest/gtest.h>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

using namespace velt;

TEST(ByteIoTest, WriterAndReaderRoundTrip)
{
    CByteWriter writer;
    writer.U32(0).U8(0x3F).U16(0xBEEF).U32(0xDEADBEEF).CString("abc").U16Be(0x1027);
    writer.PatchU32(0, static_cast<std::uint32_t>(writer.Size() - 4));
    const auto bytes = writer.Take();
    ASSERT_EQ(bytes.size(), 4u + 1 + 2 + 4 + 4 + 2);
    EXPECT_EQ(bytes[bytes.size() - 2], 0x10);

    CByteReader reader(bytes);
    EXPECT_EQ(reader.U32(), bytes.size() - 4);
    EXPECT_EQ(reader.U8(), 0x3F);
    EXPECT_EQ(reader.U16(), 0xBEEF);
    EXPECT_EQ(reader.U32(), 0xDEADBEEFu);
    EXPECT_EQ(reader.CString(), "abc");
    reader.Skip(2);
    EXPECT_TRUE(reader.AtEnd());
}

TEST(ByteIoTest, OverrunIsStickyAndYieldsNothing)
{
    const std::uint8_t bytes[] = {1, 2, 3};
    CByteReader reader(bytes);
    EXPECT_EQ(reader.U32(), 0u);
    EXPECT_FALSE(reader.Ok());
    EXPECT_EQ(reader.U8(), 0u); // a byte is there, but the reader has failed
    EXPECT_FALSE(reader.Ok());
}

TEST(ByteIoTest, StringNeedsTerminatorWithinDataAndLimit)
{
    const std::uint8_t unterminated[] = {'a', 'b'};
    CByteReader noNul(unterminated);
    EXPECT_EQ(noNul.CString(), "");
    EXPECT_FALSE(noNul.Ok());

    const std::uint8_t longText[] = {'a', 'b', 'c', 0};
    CByteReader tooLong(longText);
    EXPECT_EQ(tooLong.CString(2), "");
    EXPECT_FALSE(tooLong.Ok());

    CByteReader fits(longText);
    EXPECT_EQ(fits.CString(3), "abc");
    EXPECT_TRUE(fits.AtEnd());
}
