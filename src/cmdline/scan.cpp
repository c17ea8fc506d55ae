#include "cmdline/scan.h"

#include <cstdlib>
#include <cstring>

#include "cmdline/relay_message.h"
#include "text/text.h"

namespace cmdline {
namespace {

const char16_t kSpace = u' ';
const char16_t kQuote = u'"';

// Whether c is one of the byte text's characters. The comparison is on the
// full 16-bit value, so a character above 0xFF never matches by its low
// byte, and the terminator is no member.
bool InLetterSet(char16_t c, const char* set) {
    for (; *set != 0; ++set) {
        if (c == static_cast<char16_t>(static_cast<unsigned char>(*set))) return true;
    }
    return false;
}

bool IsOption(const char16_t* argument) {
    return (argument[0] == u'-' || argument[0] == u'/') && !IsKelFile(argument);
}

// Kel is the one plain argument that is passed over, in exactly this case.
bool IsKelWord(const char16_t* argument) {
    return argument[0] == u'K' && argument[1] == u'e' && argument[2] == u'l' && argument[3] == 0;
}

// A .kel file name turns into the application's name with "_run" behind it:
// the extension becomes "run" and the folders in front are dropped. The
// search for a folder separator stays inside the argument, so that a '/' in
// an earlier argument (or memory before the copy) is never taken for one.
char16_t* KelFileTarget(char16_t* argument) {
    int32_t length = text::WideLength(argument);
    argument[length - 3] = u'r';
    argument[length - 2] = u'u';
    argument[length - 1] = u'n';
    for (int32_t i = length - 4; i >= 0; --i) {
        if (argument[i] == u'/' || argument[i] == u'\\') {
            argument[i] = 0;
            return argument + i + 1;
        }
    }
    return argument;
}

// The window class cannot hold the path and member separators of the name.
void ReplaceSeparators(char16_t* target) {
    for (; *target != 0; ++target) {
        if (*target == u'.' || *target == u'/') *target = u'_';
    }
}

}  // namespace

// The split, by example ("·" marks a space, "¶" a CR or LF):
//
//   text                            arguments
//   "·app.Main·doc.kel"             app.Main | doc.kel
//   "\"\\My·Documents\\Game.kel\""  \My·Documents\Game.kel
//   "\"ab\"cd"                      ab | cd            (a closing quote ends the argument at once)
//   "a\"b·c\"·d"                    a"b | c" | d       (a quote opens only at an argument's start)
//   "\"\"·x"                        (empty) | x
//   "a→b·c"  (→ a tab)              a→b | c            (tabs are ordinary characters)
//   "a¶b"                           a                  (a line break ends the text)
//   "\"open·quote"                  open·quote         (an unclosed quote runs to the end)
int32_t SplitArguments(char16_t* text, char16_t** list) {
    for (char16_t* c = text; *c != 0; ++c) {
        if (*c == 0x0D || *c == 0x0A) {
            *c = 0;
            break;
        }
    }
    int32_t count = 0;
    char16_t* c = text;
    for (;;) {
        while (*c == kSpace) ++c;
        if (*c == 0) return count;
        bool quoted = *c == kQuote;
        if (quoted) ++c;
        if (list != NULL) list[count] = c;
        ++count;
        while (*c != 0 && *c != (quoted ? kQuote : kSpace)) ++c;
        if (*c == 0) return count;
        if (list != NULL) *c = 0;
        ++c;
    }
}

bool IsKelFile(const char16_t* text) {
    int32_t length = text::WideLength(text);
    if (length <= 4) return false;
    const char16_t* end = text + length - 4;
    return end[0] == u'.' && (end[1] == u'k' || end[1] == u'K') && (end[2] == u'e' || end[2] == u'E') &&
           (end[3] == u'l' || end[3] == u'L');
}

// The walk, by example (the target name, or what the walk did):
//
//   arguments                        target
//   app.Main doc.kel                 app_Main
//   "\My Documents\Game.kel"         Game_run
//   /Temp/Game.kel                   Game_run        (a .kel name is no option)
//   -h 5 app.Main                    app_Main        (h takes 5 as its parameter)
//   -z app.Main                      app_Main        (z takes none)
//   Kel app.Main                     app_Main        (Kel is passed over; KEL is not)
//   -- app.Main                      StartKel        (-- ends the walk)
//   -k                               StartKel        (an option in the last position)
//   -x /Temp/Game.kel                StartKel        (the parameter swallows the file name)
//   (nothing)                        StartKel
//   -acommand "go home"              relay at 0
ScanResult ScanCommandLine(const char16_t* commandLine) {
    ScanResult scan{ScanKind::kTarget, NULL, NULL, 0, -1, NULL, 0, NULL, NULL};

    int32_t length = text::WideLength(commandLine);
    scan.copy = static_cast<char16_t*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(char16_t)));
    std::memcpy(scan.copy, commandLine, (static_cast<size_t>(length) + 1) * sizeof(char16_t));
    scan.count = SplitArguments(scan.copy, NULL);
    if (scan.count == 0) {
        // Nothing to split: the default name stands in as the only argument.
        std::free(scan.copy);
        scan.copy = text::Widen(kDefaultTargetName, -1);
        scan.count = SplitArguments(scan.copy, NULL);
    }
    scan.arguments = static_cast<char16_t**>(std::malloc(static_cast<size_t>(scan.count) * sizeof(char16_t*)));
    SplitArguments(scan.copy, scan.arguments);

    int32_t i = 0;
    while (i < scan.count && scan.target == NULL) {
        char16_t* argument = scan.arguments[i];
        if (IsOption(argument)) {
            char16_t letter = argument[1];
            if (i == scan.count - 1 && !InLetterSet(letter, kLastArgumentLetters)) break;
            if (letter == u'-') break;
            if (letter == u'a' && Utf8Equal(argument + 1, kRelayOption)) {
                scan.kind = ScanKind::kRelay;
                scan.relayAt = i;
                if (i + 1 < scan.count) scan.relayMessage = RelayMessage(scan.arguments[i + 1], &scan.relayMessageLength);
                return scan;
            }
            // A lone '-' or '/' has the NUL for its letter, which is no member of
            // either set: it takes the next argument, as every unlisted letter does.
            i += InLetterSet(letter, kLettersWithoutParameter) ? 1 : 2;
        } else if (IsKelFile(argument)) {
            scan.target = KelFileTarget(argument);
        } else if (IsKelWord(argument)) {
            ++i;
        } else {
            scan.target = argument;
        }
    }
    if (scan.target == NULL) {
        scan.defaultTarget = text::Widen(kDefaultTargetName, -1);
        scan.target = scan.defaultTarget;
    }
    ReplaceSeparators(scan.target);
    return scan;
}

void FreeScan(ScanResult* scan) {
    std::free(scan->defaultTarget);
    std::free(scan->arguments);
    std::free(scan->copy);
    std::free(scan->relayMessage);
    scan->defaultTarget = NULL;
    scan->relayMessage = NULL;
    scan->arguments = NULL;
    scan->copy = NULL;
    scan->target = NULL;
}

}  // namespace cmdline
