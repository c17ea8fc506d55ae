#include "text/utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// The bytes and their NUL alone in a heap block of exactly that size, so
// that AddressSanitizer reports a read past the NUL.
std::unique_ptr<char[]> Exact(const std::string& bytes) {
    std::unique_ptr<char[]> block(new char[bytes.size() + 1]);
    std::memcpy(block.get(), bytes.c_str(), bytes.size() + 1);
    return block;
}

TEST(Utf8Decode, EachFormOfSequence) {
    struct Case {
        std::string bytes;
        uint32_t codePoint;
        int32_t length;
        bool wellFormed;
    };
    const Case cases[] = {
        {"A", 0x41, 1, true},
        {std::string("\0", 1), 0, 1, true},
        {"\x7F", 0x7F, 1, true},
        {"\xC2\x80", 0x80, 2, true},
        {"\xDF\xBF", 0x7FF, 2, true},
        {"\xE0\xA0\x80", 0x800, 3, true},
        {"\xE2\x82\xAC", 0x20AC, 3, true},
        {"\xEF\xBF\xBF", 0xFFFF, 3, true},
        {"\xF0\x90\x80\x80", 0x10000, 4, true},
        {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
        // Decoded, but not well-formed: further bytes that are no continuation bytes,
        // longer forms than needed, surrogates, values past U+10FFFF.
        {"\xC3\x29", 0xE9, 2, false},
        {"\xE2\x02\x6C", 0x20AC, 3, false},
        {"\xC0\x80", 0, 2, false},
        {"\xC1\xBF", 0x7F, 2, false},
        {"\xE0\x9F\xBF", 0x7FF, 3, false},
        {"\xF0\x8F\xBF\xBF", 0xFFFF, 4, false},
        {"\xED\xA0\x80", 0xD800, 3, false},
        {"\xED\xBF\xBF", 0xDFFF, 3, false},
        {"\xF4\x90\x80\x80", 0x110000, 4, false},
        {"\xF7\xBF\xBF\xBF", 0x1FFFFF, 4, false},
        // No sequence: continuation bytes and 0xF8 to 0xFF lead nothing; a NUL cuts one short.
        {"\x80", 0, 0, false},
        {"\xBF\x80", 0, 0, false},
        {"\xF8\x88\x80\x80\x80", 0, 0, false},
        {"\xFF", 0, 0, false},
        {"\xC3", 0, 0, false},
        {"\xE2\x82", 0, 0, false},
        {"\xF0\x9F\x98", 0, 0, false},
        {std::string("\xE2\0\xAC", 3), 0, 0, false},
    };
    for (const Case& c : cases) {
        std::unique_ptr<char[]> bytes = Exact(c.bytes);
        text::Utf8Sequence s = text::DecodeUtf8(bytes.get());
        EXPECT_EQ(s.codePoint, c.codePoint) << testing::PrintToString(c.bytes);
        EXPECT_EQ(s.length, c.length) << testing::PrintToString(c.bytes);
        EXPECT_EQ(s.wellFormed, c.wellFormed) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8Decode, ReadsOneSequenceOnly) {
    text::Utf8Sequence s = text::DecodeUtf8("\xC3\xA9\xC3\xA8");
    EXPECT_EQ(s.codePoint, 0xE9u);
    EXPECT_EQ(s.length, 2);
    s = text::DecodeUtf8("ab");
    EXPECT_EQ(s.codePoint, u'a');
    EXPECT_EQ(s.length, 1);
}

// Every value up to U+10FFFF goes out and comes back with the length its
// size needs; only the surrogates come back marked as not well-formed.
TEST(Utf8Encode, EveryValueDecodesBack) {
    for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
        char bytes[5] = {};
        int32_t length = text::EncodeUtf8(c, bytes);
        ASSERT_EQ(length, c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4) << c;
        if (c == 0) continue;  // a NUL lead byte decodes as U+0000 on its own anyway
        text::Utf8Sequence s = text::DecodeUtf8(bytes);
        ASSERT_EQ(s.codePoint, c);
        ASSERT_EQ(s.length, length) << c;
        ASSERT_EQ(s.wellFormed, c < 0xD800 || c > 0xDFFF) << c;
    }
}

TEST(Utf8Encode, WritesNoMoreThanItsLength) {
    for (uint32_t c : {0x41u, 0xE9u, 0x20ACu, 0x1F600u}) {
        char bytes[6] = {'#', '#', '#', '#', '#', '#'};
        int32_t length = text::EncodeUtf8(c, bytes);
        for (int32_t i = length; i < 6; ++i) EXPECT_EQ(bytes[i], '#') << c << " byte " << i;
    }
}

}  // namespace
