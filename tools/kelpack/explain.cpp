#include "explain.h"

#include <cstdio>
#include <cstdlib>

#include "cmdline/merge.h"
#include "cmdline/relay_message.h"
#include "cmdline/scan.h"
#include "contract/kel.h"
#include "fileio.h"
#include "pack.h"
#include "package.h"
#include "pe.h"
#include "show.h"
#include "text/text.h"

namespace kelpack {

namespace {

std::u16string take(char16_t* s) {
    std::u16string out = s != nullptr ? std::u16string(s) : std::u16string();
    std::free(s);
    return out;
}

std::u16string widen_utf8(const std::string& s) {
    std::u16string out;
    if (!utf8_to_utf16(s, &out)) out.assign(s.begin(), s.end());
    return out;
}

std::string quoted(const std::u16string& s) { return "\"" + wide_printable(s) + "\""; }

std::string wjson(const std::u16string& s) { return json_text(utf16_to_utf8(s), true); }

std::string hex_bytes(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", c);
        out += (out.empty() ? "" : " ") + std::string(buf);
    }
    return out;
}

// Bytes as a C string body: printable ASCII, and escapes for the rest.
std::string c_escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') out += std::string("\\") + static_cast<char>(c);
        else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
        else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

const char* registration_name(shell::Registration r) {
    switch (r) {
        case shell::Registration::kRegisterAndGoOn: return "register_and_go_on";
        case shell::Registration::kRegisterOnly: return "register_only";
        case shell::Registration::kNone: break;
    }
    return "none";
}

std::string characters(std::size_t n) { return std::to_string(n) + (n == 1 ? " character" : " characters"); }

}  // namespace

std::string wide_printable(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

bool explain(const ExplainOptions& o, Explanation* x, std::string* error, int* exit_code) {
    *x = Explanation();
    x->file = o.file;
    x->user_line = o.user_line;
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!read_file(o.file, &bytes, &why)) {
        *error = o.file + ": cannot read: " + why;
        *exit_code = kExitRead;
        return false;
    }
    PeImage image;
    ResourceList res;
    if (!parse_pe(std::move(bytes), &image, &why) || !read_resources(image, &res, &why)) {
        *error = o.file + ": " + why;
        *exit_code = kExitBadImage;
        return false;
    }
    x->format = image.pe32plus ? "PE32+" : "PE32";
    x->machine = machine_name(image.machine);

    // Step 2: the merge, over the CommandLine resource as the launcher would map it.
    if (const Resource* cl = find_resource(res, text_type(), command_line_name())) {
        x->has_embedded = true;
        char16_t* embedded = cmdline::EmbeddedCommandLine(reinterpret_cast<const char*>(cl->data.data()),
                                                          static_cast<std::uint32_t>(cl->data.size()));
        x->embedded = embedded;
        const char16_t* merged = cmdline::ComposeCommandLine(embedded, o.user_line.c_str());
        x->merged = merged;
        // The composition is the embedded text itself for an empty user line, else a new string.
        if (merged != embedded) std::free(const_cast<char16_t*>(merged));
        std::free(embedded);
    } else {
        x->merged = o.user_line;
    }

    // Step 3: the registration trigger, and the engine path a registration writes.
    x->registration = shell::RegistrationFor(x->merged.c_str());
    x->installed_as = o.has_installed_as ? o.installed_as : u"\\Windows\\" + widen_utf8(base_name(o.file));
    x->registered_engine_path = take(shell::EnginePathFor(x->installed_as.c_str()));
    if (x->registration == shell::Registration::kRegisterOnly) return true;

    // Step 4: the argument scan. The split is shown as the scan sees it, before
    // the scan rewrites a .kel argument into the target name.
    x->scanned = true;
    {
        std::u16string copy = x->merged;
        std::int32_t n = cmdline::SplitArguments(&copy[0], nullptr);
        std::vector<char16_t*> list(static_cast<std::size_t>(n));
        cmdline::SplitArguments(&copy[0], list.data());
        for (char16_t* a : list) x->arguments.push_back(a);
    }
    cmdline::ScanResult scan = cmdline::ScanCommandLine(x->merged.c_str());
    if (scan.kind == cmdline::ScanKind::kRelay) {
        x->relay = true;
        x->relay_at = scan.relayAt;
        x->relay_has_command = scan.relayAt + 1 < scan.count;
        if (x->relay_has_command) {
            x->relay_command = scan.arguments[scan.relayAt + 1];
            std::int32_t length = 0;
            char* message = cmdline::RelayMessage(scan.arguments[scan.relayAt + 1], &length);
            x->relay_bytes.assign(message, static_cast<std::size_t>(length));
            std::free(message);
        }
    } else {
        x->target = scan.target;
    }
    cmdline::FreeScan(&scan);

    // Step 5: the splash for the given screen.
    splash::SplashConfig* config = launcher_splash_config(res, &x->config_packed);
    x->splash = splash_for_screen(res, config, o.screen_width, o.screen_height);
    splash::FreeSplashConfig(config);
    return true;
}

std::string explain_text(const Explanation& x) {
    std::string t = x.file + " (" + x.format + " " + x.machine + ") started with the command line " + quoted(x.user_line) +
                    " (" + characters(x.user_line.size()) + "):\n\n";

    t += "1. Command line: ";
    if (!x.has_embedded) {
        t += "no CommandLine resource, so the user's command line is used unchanged: " + quoted(x.merged) + ".\n";
    } else {
        t += "the embedded CommandLine is " + quoted(x.embedded) + "; merged with the user's: " + quoted(x.merged) + " (" +
             characters(x.merged.size()) + "). Every later step and the engine see this line.\n";
    }

    std::string engine_value = quoted(x.registered_engine_path);
    t += "2. File type: ";
    switch (x.registration) {
        case shell::Registration::kNone:
            t += "not registered (the command line is neither blank nor a lone \"+\").\n";
            break;
        case shell::Registration::kRegisterAndGoOn:
            t += "the command line is blank, so the launcher registers the .kel file type (class KelFile10, its open "
                 "command and icon, and KelFile10\\DLL = " + engine_value + " for a launcher at " + quoted(x.installed_as) +
                 ") and goes on.\n";
            break;
        case shell::Registration::kRegisterOnly:
            t += "the command line is a lone \"+\", so the launcher registers the .kel file type (class KelFile10, its open "
                 "command and icon, and KelFile10\\DLL = " + engine_value + " for a launcher at " + quoted(x.installed_as) +
                 ") and exits 0. Nothing else happens: no instance check, no splash, no engine.\n";
            return t;
    }

    t += "3. Arguments:";
    for (const std::u16string& a : x.arguments) t += " [" + wide_printable(a) + "]";
    if (x.arguments.empty()) t += " none";
    t += ".\n   ";
    if (x.relay) {
        t += "The relay option " + quoted(x.arguments[static_cast<std::size_t>(x.relay_at)]) + " stands at position " +
             std::to_string(x.relay_at) + ", so the relay answers instead of a running instance; no handoff is tried.\n   ";
        std::string where = "HKEY_LOCAL_MACHINE\\" + wide_printable(kel::kEngineKey) + " value " +
                            wide_printable(kel::kServerPortValue);
        if (!x.relay_has_command) {
            t += "No argument follows it: the launcher reads " + where +
                 " (creating the key when missing), sends nothing and goes on.\n";
        } else {
            t += "The launcher reads " + where + " (creating the key when missing). When it is not 0, the launcher "
                 "connects to 127.0.0.1 on its low 16 bits and sends " + std::to_string(x.relay_bytes.size()) + " bytes: " +
                 hex_bytes(x.relay_bytes) + " (\"" + c_escaped(x.relay_bytes) + "\"), then exits 0.\n"
                 "   Otherwise (no port, nothing listening, a send failing) it goes on below with the whole merged line, "
                 "and shuts the socket layer down after the engine returns when it started it.\n";
        }
    } else {
        t += "The target name is " + quoted(x.target) + ": the launcher asks FindWindowW for a window of class " +
             quoted(x.target) + ". If one is running, the launcher brings it to the foreground, posts it message " +
             std::to_string(kel::kActivationMessage) + " (both parameters 0) and exits 0; otherwise it goes on.\n";
    }

    const SplashOutcome& s = x.splash;
    t += "4. Splash on a " + std::to_string(s.screen_width) + "x" + std::to_string(s.screen_height) + " screen (" +
         (x.config_packed ? "packed CONFIG" : "no CONFIG packed, so the default configuration") + "): " +
         splash_outcome_text(s);
    if (s.chosen && s.decodes)
        t += ". It is shown centred, titled \"" + printable(s.title) +
             "\", and the launcher waits up to 3000 ms for its first paint";
    t += ".\n";

    t += "5. Engine: LoadLibraryW(\"" + wide_printable(kel::kEngineLibraryName) +
         "\") through the search path; if that fails, the path in the default value of HKEY_CLASSES_ROOT\\" +
         wide_printable(kel::kEnginePathKey) + " (a value that starts with a double quote loses its first and last "
         "character). A registration by this launcher at " + quoted(x.installed_as) + " sets that value to " + engine_value +
         (x.registration == shell::Registration::kRegisterAndGoOn ? ", as this start does" : "") + ".\n"
         "   With neither, a message box \"Could not find DLL: Kel.DLL\" and exit 0; a library without KelMainW, a message "
         "box \"Could not find DLL entry routine \"KelMainW\"\" and exit 0.\n";
    t += "6. KelMainW runs with the command line " + quoted(x.merged) +
         "; when it returns, the launcher unloads the engine and exits with its result.\n";
    return t;
}

std::string explain_json(const Explanation& x) {
    auto boolean = [](bool b) { return std::string(b ? "true" : "false"); };
    std::string j = "{\n";
    j += "  \"file\": " + json_string(x.file) + ",\n";
    j += "  \"format\": " + json_string(x.format) + ",\n";
    j += "  \"machine\": " + json_string(x.machine) + ",\n";
    j += "  \"user_command_line\": " + wjson(x.user_line) + ",\n";
    j += "  \"embedded_command_line\": " + (x.has_embedded ? wjson(x.embedded) : std::string("null")) + ",\n";
    j += "  \"merged_command_line\": " + wjson(x.merged) + ",\n";
    j += "  \"registration\": " + json_string(registration_name(x.registration)) + ",\n";
    j += "  \"installed_as\": " + wjson(x.installed_as) + ",\n";
    j += "  \"registered_engine_path\": " + wjson(x.registered_engine_path) + ",\n";
    if (!x.scanned) {
        j += "  \"arguments\": null,\n  \"handoff\": null,\n  \"relay\": null,\n  \"splash\": null,\n  \"engine\": null,\n";
        j += "  \"ends\": \"registration\"\n}\n";
        return j;
    }
    j += "  \"arguments\": [";
    for (std::size_t i = 0; i < x.arguments.size(); ++i) j += std::string(i ? ", " : "") + wjson(x.arguments[i]);
    j += "],\n";
    if (x.relay) {
        j += "  \"handoff\": null,\n";
        j += "  \"relay\": {\"option_at\": " + std::to_string(x.relay_at) + ", \"command\": " +
             (x.relay_has_command ? wjson(x.relay_command) : std::string("null")) + ", \"bytes_hex\": " +
             json_string(hex_bytes(x.relay_bytes)) + ", \"bytes_text\": " + json_string(x.relay_bytes) +
             ", \"length\": " + std::to_string(x.relay_bytes.size()) + ", \"registry_root\": \"HKEY_LOCAL_MACHINE\", " +
             "\"registry_key\": " + wjson(kel::kEngineKey) + ", \"registry_value\": " +
             wjson(kel::kServerPortValue) + ", \"address\": \"127.0.0.1\", \"sends\": " +
             boolean(x.relay_has_command) + "},\n";
    } else {
        j += "  \"handoff\": {\"target\": " + wjson(x.target) + ", \"window_class\": " + wjson(x.target) +
             ", \"message\": " + std::to_string(kel::kActivationMessage) + "},\n";
        j += "  \"relay\": null,\n";
    }
    j += "  \"splash\": " + splash_outcome_json(x.splash).insert(1, "\"config_packed\": " + boolean(x.config_packed) + ", ") + ",\n";
    j += "  \"engine\": {\"library\": " + wjson(kel::kEngineLibraryName) +
         ", \"registry_root\": \"HKEY_CLASSES_ROOT\", \"registry_key\": " + wjson(kel::kEnginePathKey) +
         ", \"registered_path\": " + wjson(x.registered_engine_path) + ", \"command_line\": " + wjson(x.merged) + "},\n";
    // Where the start-up ends: at a running instance or a delivered command when there is one, else in the engine.
    const char* ends = x.relay ? (x.relay_has_command ? "relay_or_engine" : "engine") : "handoff_or_engine";
    j += "  \"ends\": " + json_string(ends) + "\n}\n";
    return j;
}

}  // namespace kelpack
