#include "cmdline/merge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "text_helpers.h"
#include "text/text.h"

namespace {

// Runs the merge over a CommandLine resource holding the given bytes, and
// checks that the user's command line was left alone.
std::u16string Merge(const std::string& resource, const std::u16string& user) {
    std::u16string before = user;
    char16_t* merged = cmdline::MergeCommandLine(resource.data(), static_cast<uint32_t>(resource.size()), user.c_str());
    EXPECT_EQ(user, before) << "the user's command line must not change";
    std::u16string result(merged);
    std::free(merged);
    return result;
}

std::u16string WithApp(const std::u16string& user) { return Merge("app.Main", user); }

// The worked examples, with the embedded command line app.Main.
TEST(Merge, WorkedExamples) {
    struct Case {
        std::u16string user;
        std::u16string merged;
    } cases[] = {
        {u"", u"app.Main"},
        {u"doc.kel", u" app.Main doc.kel"},
        {u"   -x 3  ", u" app.Main -x 3  "},
        {u"-+ -h 5 -- doc.kel", u"-h 5  app.Main doc.kel"},
        {u"-+ -t \"a b\" -- z", u"-t \"a b\"  app.Main z"},
        {u"-+x", u"x  app.Main"},
        {u"-+", u" app.Main -+"},
        {u"-+ -v", u"-v  app.Main"},
    };
    for (const auto& c : cases) EXPECT_EQ(WithApp(c.user), c.merged) << testsupport::U8(c.user);
}

TEST(Merge, ShapesOfTheResult) {
    // No resource, or one only a damaged directory describes: the user's line, in a copy of the merge's own.
    const char16_t* user = u"doc.kel";
    for (const char* resource : {static_cast<const char*>(nullptr), "app.Main"}) {
        char16_t* merged = cmdline::MergeCommandLine(resource, resource ? 0xFFFFFFFFu : 0, user);
        EXPECT_EQ(std::u16string(merged), u"doc.kel");
        EXPECT_NE(merged, user);
        std::free(merged);
    }

    // Only spaces is not empty: a space, then E, and nothing behind it.
    EXPECT_EQ(WithApp(u"   "), u" app.Main");
    // "+" is carried behind E, so it cannot trigger registration.
    EXPECT_EQ(WithApp(u"+"), u" app.Main +");
    // The embedded text is never split or interpreted.
    EXPECT_EQ(Merge("a \"b c\" -- 'd", u"x"), u" a \"b c\" -- 'd x");
}

TEST(Merge, EmbeddedTextEndsAtFirstNulLfOrCr) {
    EXPECT_EQ(Merge("abc\r\ndef", u"x"), u" abc x");
    EXPECT_EQ(Merge("abc\ndef", u"x"), u" abc x");
    EXPECT_EQ(Merge(std::string("abc\0def", 7), u"x"), u" abc x");
    // Empty, or cut at its first byte: the spaces are still added.
    EXPECT_EQ(Merge("", u"x"), u"  x");
    EXPECT_EQ(Merge("\rabc", u"x"), u"  x");
    EXPECT_EQ(Merge("", u""), u"");
    // Sign-extended bytes whose low bits are not 0, 10 or 13 do not cut, and
    // the cut is at the byte, not at a character with these low 7 bits.
    std::u16string expected = u" ";
    expected += static_cast<char16_t>(0xFFE9);
    expected += static_cast<char16_t>(0xFF8A);
    expected += static_cast<char16_t>(0xFF8D);
    expected += u"x y";
    EXPECT_EQ(Merge("\xE9\x8A\x8Dx\ny", u"y"), expected);
}

TEST(Merge, EmbeddedTextWithoutTerminatorIsReadToItsSize) {
    // Exactly the resource's bytes are widened; the buffer behind them is never read.
    const char bytes[] = {'a', 'b', 'c', 'Z', 'Z'};
    char16_t* embedded = cmdline::EmbeddedCommandLine(bytes, 3);
    EXPECT_EQ(std::u16string(embedded), u"abc");
    std::free(embedded);
    embedded = cmdline::EmbeddedCommandLine(bytes, 0);
    EXPECT_EQ(std::u16string(embedded), u"");
    std::free(embedded);
    // A damaged directory's size is refused before a byte is read or a size computed.
    for (uint32_t claimed : {text::kMaxTakenBytes + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(cmdline::EmbeddedCommandLine(bytes, claimed), nullptr) << claimed;
    }
}

TEST(Merge, PrefixMarkers) {
    // "/+" opens like "-+"; spaces before the marker are skipped.
    EXPECT_EQ(WithApp(u"/+ a -- z"), u"a  app.Main z");
    EXPECT_EQ(WithApp(u"   -+ a -- z"), u"a  app.Main z");
    // The marker counts only at the start of the line.
    EXPECT_EQ(WithApp(u"x -+ a -- z"), u" app.Main x -+ a -- z");
    // A tab is no space: it hides the marker, or starts a token.
    EXPECT_EQ(WithApp(u"\t-+ a -- z"), u" app.Main \t-+ a -- z");
    EXPECT_EQ(WithApp(u"-+\ta -- z"), u"\ta  app.Main z");
    // Three characters are enough; "+-" is no marker.
    EXPECT_EQ(WithApp(u"-+ "), u" app.Main");
    EXPECT_EQ(WithApp(u"+- a"), u" app.Main +- a");
}

TEST(Merge, EndMarkers) {
    // Glued to text it is an ordinary token.
    EXPECT_EQ(WithApp(u"-+ --x -- z"), u"--x  app.Main z");
    EXPECT_EQ(WithApp(u"-+ a --z"), u"a --z  app.Main");
    EXPECT_EQ(WithApp(u"-+ a --\tz"), u"a --\tz  app.Main");
    // "/-" closes like "--"; "-/" does not.
    EXPECT_EQ(WithApp(u"-+ a /- z"), u"a  app.Main z");
    EXPECT_EQ(WithApp(u"-+ a -/ z"), u"a -/ z  app.Main");
    // At the very end, and with many spaces behind it, which are skipped.
    EXPECT_EQ(WithApp(u"-+ a --"), u"a  app.Main");
    EXPECT_EQ(WithApp(u"-+ a --    z  "), u"a  app.Main z  ");
    // The rest after the end marker is carried as it stands, markers included.
    EXPECT_EQ(WithApp(u"-+ a -- -+ b -- c"), u"a  app.Main -+ b -- c");
    // An empty section.
    EXPECT_EQ(WithApp(u"-+ -- z"), u" app.Main z");
}

TEST(Merge, QuotesInsideThePrefixSection) {
    // Quoted "--" does not end the section.
    EXPECT_EQ(WithApp(u"-+ \"a -- b\" -- z"), u"\"a -- b\"  app.Main z");
    // Both kinds quote, each closed by its own kind.
    EXPECT_EQ(WithApp(u"-+ 'a b' \"c d\" -- z"), u"'a b' \"c d\"  app.Main z");
    // A quote inside a token opens there and the token goes on after it closes.
    EXPECT_EQ(WithApp(u"-+ a\"b c\"d e -- z"), u"a\"b c\"d e  app.Main z");
    // The apostrophe replaces the open double quote; the closing double quote
    // then opens a new one, which takes the rest of the line.
    EXPECT_EQ(WithApp(u"-+ \"it's\" -- z"), u"\"it's\" -- z  app.Main");
    // An unclosed quote at the end adds nothing.
    EXPECT_EQ(WithApp(u"-+ 'x"), u"'x  app.Main");
}

TEST(Merge, LongAndLineBreakingUserCommandLines) {
    // Longer than the buffer's first 256 characters: every character kept, in order.
    std::u16string rest;
    for (int i = 0; i < 600; ++i) rest += static_cast<char16_t>(u'a' + i % 26);
    EXPECT_EQ(WithApp(rest), u" app.Main " + rest);
    std::u16string prefix;
    for (int i = 0; i < 300; ++i) prefix += static_cast<char16_t>(u'A' + i % 26);
    EXPECT_EQ(WithApp(u"-+ " + prefix + u" -- " + rest), prefix + u"  app.Main " + rest);
    // The merge leaves CR and LF where they are; the argument split cuts there.
    EXPECT_EQ(WithApp(u"a\rb"), u" app.Main a\rb");
    EXPECT_EQ(WithApp(u"-+ a\nb -- z"), u"a\nb  app.Main z");
}

}  // namespace
