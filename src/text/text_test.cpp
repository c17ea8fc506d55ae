#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::u16string Take(char16_t* s) {
    std::u16string copy(s);
    std::free(s);
    return copy;
}

TEST(WideText, LengthJoinAndBlank) {
    EXPECT_EQ(text::WideLength(u""), 0);
    EXPECT_EQ(text::WideLength(u"a\0b"), 1);
    EXPECT_EQ(Take(text::WideJoin(u"", u"")), u"");
    EXPECT_EQ(Take(text::WideJoin(u"ab", u"cd")), u"abcd");
    EXPECT_TRUE(text::IsBlank(u""));
    EXPECT_TRUE(text::IsBlank(u" \t \x1f"));
    EXPECT_FALSE(text::IsBlank(u" x"));
    // Characters compare unsigned: 0xFFE9 is no blank.
    EXPECT_FALSE(text::IsBlank(u"\xFFE9"));
}

TEST(WideText, WidenSignExtendsAndKeepsInnerNuls) {
    char16_t* wide = text::Widen("\x41\xE9", -1);
    EXPECT_EQ(wide[0], 0x0041);
    EXPECT_EQ(wide[1], 0xFFE9);
    EXPECT_EQ(wide[2], 0);
    std::free(wide);

    wide = text::Widen("a\0b", 3);
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[1], 0);
    EXPECT_EQ(wide[2], u'b');
    EXPECT_EQ(wide[3], 0);
    std::free(wide);
}

TEST(WideText, WidenRefusesCountsWhoseByteSizeWraps32Bits) {
    // (count + 1) * 2 is 2^32 here: a 32-bit build would allocate nothing and
    // write 2^31 characters. The bytes must not even be read.
    const char one[] = {'a'};
    EXPECT_EQ(text::Widen(one, INT32_MAX), nullptr);
    EXPECT_EQ(text::Widen(one, -2), nullptr);
}

TEST(WideText, NarrowKeepsLowByte) {
    char* bytes = text::Narrow(u"\x20AC" u"A", -1);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xAC);
    EXPECT_EQ(bytes[1], 'A');
    EXPECT_EQ(bytes[2], 0);
    std::free(bytes);

    bytes = text::Narrow(u"abc", 2);
    EXPECT_STREQ(bytes, "ab");
    std::free(bytes);
}

TEST(WideBuffer, GrowsByDoublingAndKeepsOrder) {
    text::WideBuffer* buffer = text::WideBufferCreate();
    EXPECT_EQ(buffer->capacity, 256);
    EXPECT_EQ(buffer->length, 0);
    for (int i = 0; i < 300; ++i) {
        text::WideBufferAppendChar(buffer, static_cast<char16_t>(u'A' + i % 26));
        EXPECT_EQ(buffer->capacity, i < 256 ? 256 : 512) << "after " << i + 1 << " characters";
    }
    for (int i = 0; i < 300; ++i) ASSERT_EQ(buffer->data[i], static_cast<char16_t>(u'A' + i % 26));
    // One append larger than double the capacity takes exactly what it needs.
    std::u16string big(2000, u'x');
    text::WideBufferAppend(buffer, big.data(), 2000);
    EXPECT_EQ(buffer->capacity, 2300);
    text::WideBufferAppend(buffer, big.data(), 0);
    EXPECT_EQ(buffer->length, 2300);
    std::free(buffer->data);
    std::free(buffer);
}

TEST(WideBuffer, FinishCountsTheNul) {
    text::WideBuffer* buffer = text::WideBufferCreate();
    text::WideBufferAppend(buffer, u"ab", 2);
    const char16_t* finished = text::WideBufferFinish(buffer);
    EXPECT_EQ(std::u16string(finished), u"ab");
    EXPECT_EQ(buffer->length, 3);
    EXPECT_EQ(finished, buffer->data);
    std::free(buffer->data);
    std::free(buffer);
}

}  // namespace
