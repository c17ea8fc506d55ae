// The window class a second start of the launcher looks for: the target name
// the launcher derives from the command line it hands the engine. An engine
// whose window has this class is found, brought forward and sent the
// activation message instead of a second copy starting.
//
//   command line                   target name
//   app.Main doc.kel               app_Main
//   "\My Documents\Game.kel"       Game_run      (a .kel file: its name, "_run")
//   -h 5 app.Main                  app_Main      (-h takes 5 as its parameter)
//   -z app.Main                    app_Main      (z, like Q R k m n p r s, takes none)
//   Kel app.Main                   app_Main      (Kel is passed over)
//   -- app.Main                    StartKel      (-- ends the walk)
//   -x                             StartKel      (an option in the last place ends it,
//                                                 but for a z r p n m s o O Q R h - +)
//   -acommand "go"                 StartKel      (a relaying start names no target)
//
// Arguments are separated by spaces only; one that starts with a double
// quote runs to the next double quote; a CR or LF ends the line. Depends on
// nothing; char16_t is the platform's 16-bit text (wchar_t on Windows).
#pragma once

#include <cstddef>

namespace sample {
namespace detail {

inline bool InSet(char16_t c, const char* set) {
    for (; *set != 0; ++set) {
        if (c == static_cast<unsigned char>(*set)) return true;
    }
    return false;
}

// Longer than ".kel" and ending in it, each letter in either case.
inline bool IsKelFile(const char16_t* a, size_t n) {
    return n > 4 && a[n - 4] == u'.' && (a[n - 3] | 0x20) == u'k' && (a[n - 2] | 0x20) == u'e' &&
           (a[n - 1] | 0x20) == u'l';
}

inline bool EndsLine(char16_t c) { return c == 0 || c == u'\r' || c == u'\n'; }

// The next argument after *c, split as the launcher splits them: its start and
// length; false at the end of the line.
inline bool NextArgument(const char16_t** c, const char16_t** at, size_t* n) {
    while (**c == u' ') ++*c;
    if (EndsLine(**c)) return false;
    bool quoted = **c == u'"';
    if (quoted) ++*c;
    *at = *c;
    while (!EndsLine(**c) && **c != (quoted ? u'"' : u' ')) ++*c;
    *n = static_cast<size_t>(*c - *at);
    if (!EndsLine(**c)) ++*c;
    return true;
}

inline bool NoArgumentLeft(const char16_t* c) {
    while (*c == u' ') ++c;
    return EndsLine(*c);
}

}  // namespace detail

// Writes the target name for commandLine into out (room for capacity
// characters, NUL included); a name too long for it is cut.
inline void TargetName(const char16_t* commandLine, char16_t* out, size_t capacity) {
    const char16_t* c = commandLine;
    const char16_t* name = u"StartKel";
    size_t length = 8;
    // Whether the name comes from a .kel file, whose extension then reads
    // "run". It is decided on the whole argument: the name left once the
    // folders go may be ".kel" alone, which is no .kel file by itself.
    bool kelFileName = false;
    const char16_t* a;
    size_t n;
    while (detail::NextArgument(&c, &a, &n)) {
        bool kelFile = detail::IsKelFile(a, n);
        if (n > 0 && (a[0] == u'-' || a[0] == u'/') && !kelFile) {
            char16_t letter = n > 1 ? a[1] : 0;
            if (detail::NoArgumentLeft(c) && !detail::InSet(letter, "azrpnmsoOQRh-+")) break;
            if (letter == u'-') break;
            static const char16_t kRelay[] = u"-acommand";
            bool relay = n == 9;
            for (size_t k = 1; relay && k < 9; ++k) relay = a[k] == kRelay[k];
            if (relay) break;
            // Every letter but these takes the next argument as its parameter.
            if (!detail::InSet(letter, "QRkmnprsz") && !detail::NextArgument(&c, &a, &n)) break;
        } else if (kelFile) {
            // The folders go, and the extension becomes "run".
            size_t from = n - 4;
            while (from > 0 && a[from - 1] != u'/' && a[from - 1] != u'\\') --from;
            name = a + from;
            length = n - from;
            kelFileName = true;
            break;
        } else if (!(n == 3 && a[0] == u'K' && a[1] == u'e' && a[2] == u'l')) {
            name = a;
            length = n;
            break;
        }
    }

    size_t k = 0;
    for (; k < length && k + 1 < capacity; ++k) {
        char16_t ch = name[k];
        if (kelFileName && k >= length - 3) ch = u"run"[k - (length - 3)];
        out[k] = ch == u'.' || ch == u'/' ? u'_' : ch;
    }
    if (capacity > 0) out[k] = 0;
}

}  // namespace sample
