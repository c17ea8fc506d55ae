#include "cmdline/merge.h"

#include <cstdlib>

#include "text/text.h"

namespace cmdline {
namespace {

// Only 0x20 separates; tabs and other control characters are ordinary text.
const char16_t kSpace = u' ';

// The unread rest of the user's command line: the cursor and the count of characters left.
struct Cursor {
    const char16_t* at;
    int32_t left;
};

void SkipSpaces(Cursor* c) {
    while (c->left > 0 && *c->at == kSpace) {
        ++c->at;
        --c->left;
    }
}

bool IsMarkerLead(char16_t c) { return c == u'-' || c == u'/'; }

// "-+" or "/+" with at least one more character behind it opens the prefix section.
bool AtPrefixMarker(const Cursor& c) { return c.left > 2 && IsMarkerLead(c.at[0]) && c.at[1] == u'+'; }

// "--" or "/-" standing alone (at the end or before a space) closes it; "--x" is an ordinary token.
bool AtEndMarker(const Cursor& c) {
    return c.left >= 2 && IsMarkerLead(c.at[0]) && c.at[1] == u'-' && (c.left == 2 || c.at[2] == kSpace);
}

// Copies one prefix token. Double quotes and apostrophes both quote, and
// whichever opened last is the one that closes: the prefix must keep a
// quoted "-- " from ending the section, and that is all quoting does here.
// The quotes themselves are copied; an unclosed quote runs to the end.
void CopyToken(Cursor* c, text::WideBuffer* out) {
    char16_t open = 0;
    while (c->left > 0) {
        char16_t ch = *c->at;
        if (open != 0 && ch == open) {
            open = 0;
        } else if (ch == u'"' || ch == u'\'') {
            open = ch;
        } else if (ch == kSpace && open == 0) {
            return;   // the space stays unread for the next skip
        }
        text::WideBufferAppendChar(out, ch);
        ++c->at;
        --c->left;
    }
}

}  // namespace

char16_t* EmbeddedCommandLine(const char* bytes, uint32_t size) {
    // A size no real command line has comes from a damaged resource directory:
    // the resource is then as unusable as a missing one.
    if (size > text::kMaxTakenBytes) return NULL;
    int32_t count = static_cast<int32_t>(size);
    char16_t* embedded = text::Widen(bytes, count);
    if (embedded == NULL) return NULL;
    // The widened characters are sign-extended, so the cut looks at the low byte only.
    for (int32_t i = 0; i < count; ++i) {
        char16_t low = embedded[i] & 0xFF;
        if (low == 0x00 || low == 0x0A || low == 0x0D) {
            embedded[i] = 0;
            break;
        }
    }
    return embedded;
}

// The merge, by example, with the embedded command line app.Main ("·" marks a
// space where it matters):
//
//   user's command line          merged command line
//   ""                           "app.Main"                 (a copy: no buffer, no space)
//   "doc.kel"                    "·app.Main·doc.kel"
//   "···-x·3··"                  "·app.Main·-x·3··"         (the rest kept as it stands)
//   "-+·-h·5·--·doc.kel"         "-h·5··app.Main·doc.kel"   (prefix tokens, each followed by a space)
//   "-+·-t·\"a·b\"·--·z"         "-t·\"a·b\"··app.Main·z"   (quotes kept, inner space kept)
//   "-+x"                        "x··app.Main"              (the marker needs no space behind it)
//   "-+"                         "·app.Main·-+"             (two characters: no prefix section)
//   "-+·-v"                      "-v··app.Main"             (no end marker: the section runs out)
//   "-+·--x·/-·z"                "--x··app.Main·z"          (--x is a token; /- ends the section)
//   "-+·\"it's\"·--·z"           "\"it's\"·--·z··app.Main"  (the apostrophe took over the open quote,
//                                                           so the closing " opened a new one)
char16_t* ComposeCommandLine(const char16_t* embedded, const char16_t* userCommandLine) {
    Cursor c{userCommandLine, text::WideLength(userCommandLine)};
    if (c.left == 0) return text::WideJoin(embedded, u"");

    text::WideBuffer* out = text::WideBufferCreate();
    SkipSpaces(&c);
    if (AtPrefixMarker(c)) {
        c.at += 2;
        c.left -= 2;
        for (;;) {
            SkipSpaces(&c);
            if (c.left == 0) break;
            if (AtEndMarker(c)) {
                c.at += 2;
                c.left -= 2;
                SkipSpaces(&c);
                break;
            }
            CopyToken(&c, out);
            text::WideBufferAppendChar(out, kSpace);
        }
    }
    text::WideBufferAppendChar(out, kSpace);
    text::WideBufferAppend(out, embedded, text::WideLength(embedded));
    if (c.left > 0) {
        text::WideBufferAppendChar(out, kSpace);
        text::WideBufferAppend(out, c.at, c.left);
    }
    char16_t* merged = text::WideBufferFinish(out);
    // The storage lives on as the command line; only the record is done with.
    std::free(out);
    return merged;
}

char16_t* MergeCommandLine(const char* resource, uint32_t size, const char16_t* userCommandLine) {
    char16_t* embedded = resource != NULL ? EmbeddedCommandLine(resource, size) : NULL;
    if (embedded == NULL) return text::WideJoin(userCommandLine, u"");
    char16_t* merged = ComposeCommandLine(embedded, userCommandLine);
    std::free(embedded);
    return merged;
}

}  // namespace cmdline
