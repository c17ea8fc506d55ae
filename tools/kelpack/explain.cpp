#include "explain.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cmdline/merge.h"
#include "cmdline/relay_message.h"
#include "cmdline/scan.h"
#include "contract/kel.h"
#include "launcher/plan.h"
#include "copy_contents.h"
#include "copy_report.h"
#include "fileio.h"
#include "pe.h"
#include "wording.h"
#include "text/text.h"
#include "text/utf8_strings.h"

namespace kelpack {

namespace {

std::u16string Take(char16_t* s) {
    std::u16string out = s != nullptr ? std::u16string(s) : std::u16string();
    std::free(s);
    return out;
}

std::u16string WidenUtf8(const std::string& s) {
    bool utf8 = true;
    std::u16string out = text::Utf8ToWide(s, &utf8);
    if (!utf8) out.assign(s.begin(), s.end());
    return out;
}

std::string Quoted(const std::u16string& s) { return "\"" + WidePrintable(s) + "\""; }

std::string WideJson(const std::u16string& s) { return JsonText(text::WideToUtf8(s), true); }

std::string HexBytes(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", c);
        out += (out.empty() ? "" : " ") + std::string(buf);
    }
    return out;
}

// Bytes as a C string body: printable ASCII, and escapes for the rest.
std::string CEscaped(const std::string& bytes) {
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

const char* RegistrationName(filetype::Registration r) {
    switch (r) {
        case filetype::Registration::kRegisterAndGoOn: return "register_and_go_on";
        case filetype::Registration::kRegisterOnly: return "register_only";
        case filetype::Registration::kNone: break;
    }
    return "none";
}

std::string Characters(std::size_t n) { return Counted(n, "character"); }

}  // namespace

std::string WidePrintable(const std::u16string& s) {
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

namespace {

// The rows a registration by the launcher at x->installedAs writes, and
// what the launcher makes of the engine path among them, read back as the
// registration stores it: text and terminator.
void ExplainRegistration(Explanation* x) {
    filetype::RegistrationRow rows[filetype::kRegistrationRowCount];
    std::int32_t count = filetype::RegistrationRows(x->installedAs.c_str(), rows);
    for (std::int32_t i = 0; i < count; ++i) {
        x->registrationRows.emplace_back(rows[i].key, rows[i].value);
        if (x->registrationRows.back().first == kel::kEnginePathKey) x->registeredEnginePath = rows[i].value;
    }
    filetype::FreeRegistrationRows(rows, count);
    std::u16string stored = x->registeredEnginePath + u'\0';
    auto size = static_cast<std::uint32_t>(stored.size() * sizeof(char16_t));
    std::uint32_t bytes = launcher::EnginePathBufferBytes(size);
    x->registeredEngineTaken = bytes != 0;
    if (x->registeredEngineTaken) {
        std::u16string buffer(bytes / sizeof(char16_t), u'\0');
        std::copy(stored.begin(), stored.end(), buffer.begin());
        x->registeredEngineLoads = launcher::EnginePathInValue(&buffer[0], size);
    }
}

// The arguments as the scan sees them, before it rewrites a .kel argument
// into the target name, and what the scan decided: the relay or the handoff.
void ExplainScan(const launcher::StartPlan& plan, Explanation* x) {
    std::u16string copy = x->merged;
    std::int32_t n = cmdline::SplitArguments(&copy[0], nullptr);
    std::vector<char16_t*> list(static_cast<std::size_t>(n));
    cmdline::SplitArguments(&copy[0], list.data());
    for (char16_t* a : list) x->arguments.push_back(a);
    const cmdline::ScanResult& scan = plan.scan;
    if (scan.kind != cmdline::ScanKind::kRelay) {
        x->target = scan.target;
        return;
    }
    x->relay = true;
    x->relayAt = scan.relayAt;
    x->relayHasCommand = scan.relayMessage != nullptr;
    if (x->relayHasCommand) {
        x->relayCommand = scan.arguments[scan.relayAt + 1];
        x->relayBytes.assign(scan.relayMessage, static_cast<std::size_t>(scan.relayMessageLength));
    }
}

// The splash for the given screen, and on a larger screen what a
// high-resolution device shows a copy not marked ready for it.
void ExplainSplash(const ExplainOptions& o, const ResourceList& res, Explanation* x) {
    splash::SplashConfig* config = LauncherSplashConfig(res, &x->configPacked);
    x->splash = SplashForScreen(res, config, o.screenWidth, o.screenHeight);
    x->hiRes = ReadHiResMark(res);
    ScreenSize told{};
    x->largeScreen = DoubledScreen(o.screenWidth, o.screenHeight, &told);
    if (x->largeScreen && !x->hiRes.marked) x->secondEdition = SplashForScreen(res, config, told.width, told.height);
    splash::FreeSplashConfig(config);
}

}  // namespace

bool Explain(const ExplainOptions& o, Explanation* x, Outcome* outcome) {
    *x = Explanation();
    x->file = o.copy;
    x->userLine = o.userLine;
    PeImage image;
    ResourceList res;
    if (!ReadLauncherFile(o.copy, &image, &res, outcome)) return false;
    x->format = image.pe32plus ? "PE32+" : "PE32";
    x->machine = MachineName(image.machine);

    // The launcher's own start-up plan over the CommandLine resource as it
    // would map it: the merge, the registration trigger and the scan.
    const Resource* cl = FindResource(res, TextType(), CommandLineName());
    const char* embedded = cl != nullptr ? reinterpret_cast<const char*>(cl->data.data()) : nullptr;
    auto embeddedSize = static_cast<std::uint32_t>(cl != nullptr ? cl->data.size() : 0);
    launcher::StartPlan plan = launcher::PlanStart(embedded, embeddedSize, o.userLine.c_str());
    x->hasEmbedded = cl != nullptr;
    if (x->hasEmbedded) x->embedded = Take(cmdline::EmbeddedCommandLine(embedded, embeddedSize));
    x->merged = plan.commandLine;
    x->registration = plan.registration;
    // Where a registration would point the file type's engine path.
    x->installedAs = o.hasInstalledAs ? o.installedAs : u"\\Windows\\" + WidenUtf8(BaseName(o.copy));
    ExplainRegistration(x);
    x->scanned = plan.scanned;
    if (plan.scanned) ExplainScan(plan, x);
    launcher::FreeStartPlan(&plan);
    if (x->scanned) ExplainSplash(o, res, x);
    return true;
}

namespace {

// Steps 1 and 2: the merged command line, and whether the launcher registers.
std::string CommandLineAndFileTypeSteps(const Explanation& x) {
    std::string t = "1. Command line: ";
    if (!x.hasEmbedded) {
        t += "no " + WidePrintable(kel::kCommandLineResourceName) +
             " resource, so the user's command line is used unchanged: " + Quoted(x.merged) + ".\n";
    } else {
        t += "the embedded " + WidePrintable(kel::kCommandLineResourceName) + " is " + Quoted(x.embedded) + "; merged with the user's: " + Quoted(x.merged) + " (" +
             Characters(x.merged.size()) + "). Every later step and the engine see this line.\n";
    }
    // What a registration writes: the launcher's own rows.
    std::string registers = "registers the " + WidePrintable(kel::kFileExtension) + " file type for a launcher at " +
                            Quoted(x.installedAs) + ", setting the default values";
    for (std::size_t i = 0; i < x.registrationRows.size(); ++i)
        registers += std::string(i == 0 ? " " : ", ") + "HKEY_CLASSES_ROOT\\" + WidePrintable(x.registrationRows[i].first) +
                     " = " + Quoted(x.registrationRows[i].second);
    registers += ",";
    t += "2. File type: ";
    switch (x.registration) {
        case filetype::Registration::kNone:
            return t + "not registered (the command line is neither blank nor a lone \"+\").\n";
        case filetype::Registration::kRegisterAndGoOn:
            return t + "the command line is blank, so the launcher " + registers + " and goes on.\n";
        case filetype::Registration::kRegisterOnly:
            break;
    }
    return t + "the command line is a lone \"+\", so the launcher " + registers +
           " and exits 0. Nothing else happens: no instance check, no splash, no engine.\n";
}

// Step 3: the arguments, and the handoff or the relay.
std::string ArgumentsStep(const Explanation& x) {
    std::string t = "3. Arguments:";
    for (const std::u16string& a : x.arguments) t += " [" + WidePrintable(a) + "]";
    if (x.arguments.empty()) t += " none";
    t += ".\n   ";
    if (!x.relay)
        return t + "The target name is " + Quoted(x.target) + ": the launcher asks FindWindowW for a window of class " +
               Quoted(x.target) + ". If one is running, the launcher brings it to the foreground, posts it message " +
               std::to_string(kel::kActivationMessage) + " (both parameters 0) and exits 0; otherwise it goes on.\n";
    t += "The relay option " + Quoted(x.arguments[static_cast<std::size_t>(x.relayAt)]) + " stands at position " +
         std::to_string(x.relayAt) + ", so the relay answers instead of a running instance; no handoff is tried.\n   ";
    std::string where = "HKEY_LOCAL_MACHINE\\" + WidePrintable(kel::kEngineKey) + " value " +
                        WidePrintable(kel::kServerPortValue) + " (creating the key when missing; a value of up to " +
                        std::to_string(cmdline::kServerPortMaxBytes) + " bytes is a number, a longer one none)";
    if (!x.relayHasCommand) return t + "No argument follows it: the launcher reads " + where + ", sends nothing and goes on.\n";
    return t + "The launcher reads " + where + ". When the number is not 0, the launcher "
           "connects to " + std::string(cmdline::kRelayAddress) + " on its low 16 bits and sends " + std::to_string(x.relayBytes.size()) + " bytes: " +
           HexBytes(x.relayBytes) + " (\"" + CEscaped(x.relayBytes) + "\"), then exits 0.\n"
           "   Otherwise (no port, nothing listening, a send failing) it goes on below with the whole merged line, "
           "and shuts the socket layer down after the engine returns when it started it.\n";
}

// Step 4: the splash on the screen asked for, and on a high-resolution
// device what the copy's mark (or its lack) makes of it.
std::string SplashStep(const Explanation& x) {
    const SplashOutcome& s = x.splash;
    std::string config = WidePrintable(kel::kConfigResourceName);
    std::string source = x.configPacked ? "packed " + config : "no " + config + " packed, so the default configuration";
    std::string t = "4. Splash " +
                    (s.asksScreen ? "on a " + SizeText(s.screenWidth, s.screenHeight) + " screen (" + source : "(" + source) +
                    "): " + SplashOutcomeText(s);
    if (s.chosen && s.decodes)
        t += ". It is shown centred, titled " + ShownTitle(s.title) +
             ", and the launcher waits up to " + std::to_string(splash::kFirstPaintWaitMs) + " ms for its first paint";
    t += ".\n";
    if (!x.largeScreen) return t;
    const std::string mark = WidePrintable(kel::kHiResAwareResourceType) + " " + WidePrintable(kel::kHiResAwareResourceName);
    if (x.hiRes.marked)
        return t + "   The copy is marked ready for high resolution (" + mark + "), so a high-resolution Pocket PC (CE 4.21 "
               "on) tells it the real screen size too, as a CE 4.20 device does.\n";
    const SplashOutcome& d = x.secondEdition;
    return t + "   That is on a CE 4.20 device. A high-resolution Pocket PC (Windows Mobile 2003 Second Edition, CE 4.21 on) "
           "tells this copy, not marked ready for high resolution (no " + mark + "; kelpack pack --hi-res-aware marks it), "
           "that the screen is " + SizeText(d.screenWidth, d.screenHeight) + " and doubles every pixel: " +
           SplashOutcomeText(d) + ".\n";
}

// Steps 5 and 6: where the engine is found, and its run.
std::string EngineSteps(const Explanation& x) {
    return "5. Engine: LoadLibraryW(\"" + WidePrintable(kel::kEngineLibraryName) +
           "\") through the search path; if that fails, the path in the default value of HKEY_CLASSES_ROOT\\" +
           WidePrintable(kel::kEnginePathKey) + " when that value is at most " + std::to_string(launcher::kMaxEnginePathBytes) +
           " bytes. A registration by this launcher at " + Quoted(x.installedAs) + " sets that value to " +
           Quoted(x.registeredEnginePath) +
           (x.registration == filetype::Registration::kRegisterAndGoOn ? ", as this start does" : "") +
           (x.registeredEngineTaken ? ", from which the launcher loads " + Quoted(x.registeredEngineLoads)
                                    : ", which is too long for the launcher to take") +
           ".\n"
           // The message boxes' texts are the launcher's own words.
           "   With neither, a message box " + Quoted(launcher::kNoEngineText) + " and exit 0; a library without " +
           WidePrintable(kel::kEntryName) + ", a message box " + Quoted(launcher::kNoEntryText) + " and exit 0.\n"
           "6. " + WidePrintable(kel::kEntryName) + " runs with the command line " + Quoted(x.merged) +
           "; when it returns, the launcher unloads the engine and exits with its result.\n";
}

}  // namespace

std::string ExplainText(const Explanation& x) {
    std::string t = x.file + " (" + x.format + " " + x.machine + ") started with the command line " + Quoted(x.userLine) +
                    " (" + Characters(x.userLine.size()) + "):\n\n";
    t += CommandLineAndFileTypeSteps(x);
    if (x.registration == filetype::Registration::kRegisterOnly) return t;
    return t + ArgumentsStep(x) + SplashStep(x) + EngineSteps(x);
}

std::string ExplainJson(const Explanation& x) {
    auto boolean = [](bool b) { return std::string(b ? "true" : "false"); };
    std::string j = "{\n";
    j += "  \"file\": " + JsonString(x.file) + ",\n";
    j += "  \"format\": " + JsonString(x.format) + ",\n";
    j += "  \"machine\": " + JsonString(x.machine) + ",\n";
    j += "  \"user_command_line\": " + WideJson(x.userLine) + ",\n";
    j += "  \"embedded_command_line\": " + (x.hasEmbedded ? WideJson(x.embedded) : std::string("null")) + ",\n";
    j += "  \"merged_command_line\": " + WideJson(x.merged) + ",\n";
    j += "  \"registration\": " + JsonString(RegistrationName(x.registration)) + ",\n";
    j += "  \"installed_as\": " + WideJson(x.installedAs) + ",\n";
    j += "  \"registration_rows\": [";
    for (std::size_t i = 0; i < x.registrationRows.size(); ++i)
        j += std::string(i ? ", " : "") + "{\"key\": " + WideJson(x.registrationRows[i].first) +
             ", \"value\": " + WideJson(x.registrationRows[i].second) + "}";
    j += "],\n";
    j += "  \"registered_engine_path\": " + WideJson(x.registeredEnginePath) + ",\n";
    if (!x.scanned) {
        j += "  \"arguments\": null,\n  \"handoff\": null,\n  \"relay\": null,\n  \"splash\": null,\n  \"engine\": null,\n";
        j += "  \"ends\": \"registration\"\n}\n";
        return j;
    }
    j += "  \"arguments\": [";
    for (std::size_t i = 0; i < x.arguments.size(); ++i) j += std::string(i ? ", " : "") + WideJson(x.arguments[i]);
    j += "],\n";
    if (x.relay) {
        j += "  \"handoff\": null,\n";
        j += "  \"relay\": {\"option_at\": " + std::to_string(x.relayAt) + ", \"command\": " +
             (x.relayHasCommand ? WideJson(x.relayCommand) : std::string("null")) + ", \"bytes_hex\": " +
             JsonString(HexBytes(x.relayBytes)) + ", \"bytes_text\": " + JsonString(x.relayBytes) +
             ", \"length\": " + std::to_string(x.relayBytes.size()) + ", \"registry_root\": \"HKEY_LOCAL_MACHINE\", " +
             "\"registry_key\": " + WideJson(kel::kEngineKey) + ", \"registry_value\": " +
             WideJson(kel::kServerPortValue) + ", \"port_value_max_bytes\": " + std::to_string(cmdline::kServerPortMaxBytes) + ", \"address\": " + JsonString(cmdline::kRelayAddress) + ", \"sends\": " +
             boolean(x.relayHasCommand) + "},\n";
    } else {
        j += "  \"handoff\": {\"target\": " + WideJson(x.target) + ", \"window_class\": " + WideJson(x.target) +
             ", \"message\": " + std::to_string(kel::kActivationMessage) + "},\n";
        j += "  \"relay\": null,\n";
    }
    std::string splashJson = SplashOutcomeJson(x.splash).insert(1, "\"config_packed\": " + boolean(x.configPacked) + ", ");
    // What a high-resolution device shows instead, for a copy not marked ready for it.
    splashJson.insert(splashJson.size() - 1, ", \"hi_res_aware\": " + boolean(x.hiRes.marked) + ", \"second_edition\": " +
                                                 (x.largeScreen && !x.hiRes.marked ? SplashOutcomeJson(x.secondEdition) : "null"));
    j += "  \"splash\": " + splashJson + ",\n";
    j += "  \"engine\": {\"library\": " + WideJson(kel::kEngineLibraryName) +
         ", \"registry_root\": \"HKEY_CLASSES_ROOT\", \"registry_key\": " + WideJson(kel::kEnginePathKey) +
         ", \"max_value_bytes\": " + std::to_string(launcher::kMaxEnginePathBytes) +
         ", \"registered_path\": " + WideJson(x.registeredEnginePath) + ", \"loads_after_registration\": " +
         (x.registeredEngineTaken ? WideJson(x.registeredEngineLoads) : std::string("null")) +
         ", \"command_line\": " + WideJson(x.merged) + "},\n";
    // Where the start-up ends: at a running instance or a delivered command when there is one, else in the engine.
    const char* ends = x.relay ? (x.relayHasCommand ? "relay_or_engine" : "engine") : "handoff_or_engine";
    j += "  \"ends\": " + JsonString(ends) + "\n}\n";
    return j;
}

namespace {

bool SetScreen(ExplainOptions* o, const std::string& value, std::string* why) {
    std::uint32_t w = 0, h = 0;
    if (!ParseSize(value, &w, &h)) {
        *why = "--screen \"" + value + "\": give WIDTHxHEIGHT, each 1 to 65535";
        return false;
    }
    o->screenWidth = static_cast<std::int32_t>(w);
    o->screenHeight = static_cast<std::int32_t>(h);
    return true;
}

// The launcher takes wide text; what is given must be UTF-8 to become it.
bool TakeWide(const std::string& value, std::u16string* wide, const std::string& notUtf8, std::string* why) {
    bool utf8 = true;
    *wide = text::Utf8ToWide(value, &utf8);
    if (!utf8) *why = notUtf8;
    return utf8;
}

bool SetUserLine(ExplainOptions* o, const std::string& value, std::string* why) {
    o->hasUserLine = true;
    return TakeWide(value, &o->userLine, "--command-line is not UTF-8 text", why);
}

bool SetInstalledAs(ExplainOptions* o, const std::string& value, std::string* why) {
    o->hasInstalledAs = true;
    return TakeWide(value, &o->installedAs, "--installed-as is not UTF-8 text", why);
}

// The arguments after "--", joined as the shell joins them.
bool TakeUserArguments(ExplainOptions* o, const std::vector<std::string>& args, std::string* why) {
    if (o->hasUserLine) {
        *why = "give the user's command line with --command-line or after --, not both";
        return false;
    }
    std::string joined;
    for (std::size_t i = 0; i < args.size(); ++i) joined += (i ? " " : "") + args[i];
    return TakeWide(joined, &o->userLine, "the arguments are not UTF-8 text", why);
}

}  // namespace

const CommandSpec<ExplainOptions>& ExplainSpec() {
    static const CommandSpec<ExplainOptions> spec = [] {
        CommandSpec<ExplainOptions> c;
        c.name = "explain";
        c.usage = {"kelpack explain COPY [options] [-- ARGS...]"};
        c.synopsis = "kelpack explain COPY [options] -- ARGS...";
        c.summary = "what it does when started with ARGS";
        c.about = "Tells, in the launcher's start-up order, what the launcher copy COPY does when\n"
                  "it is started with the user's command line ARGS (joined by single spaces):\n"
                  "the merged command line, whether it registers the " + ContractName(kel::kFileExtension) + " file type, the target\n"
                  "name and the window class it looks for, whether it relays a command and the\n"
                  "bytes it sends, the splash it shows, and where it looks for the engine. It\n"
                  "stops where the launcher stops. Nothing is run; the launcher's own code\n"
                  "works it out from the resources in COPY.\n";
        c.column = 24;
        c.options = {
            {{"--command-line", nullptr, "TEXT", false},
             "the user's command line exactly, spaces included\n"
             "(instead of -- ARGS...); without either it is empty",
             SetUserLine},
            {{"--screen", nullptr, "WxH", false}, "the device's screen (default 240x320)", SetScreen},
            {{"--installed-as", nullptr, "PATH", false},
             "where the launcher lies on the device, for the engine\n"
             "path a registration writes (default \\Windows\\ and\n"
             "the file's name)",
             SetInstalledAs},
            {{"--json", nullptr, nullptr, true}, "one JSON object instead of text, for scripts", Sets<&ExplainOptions::json>},
        };
        c.epilogue = "Examples:\n"
                     "  kelpack explain Game.exe -- doc.kel\n"
                     "  kelpack explain Game.exe -- -+ -acommand '\"go home\"' --\n"
                     "  kelpack explain Game.exe --screen 480x640 --command-line ''\n";
        c.file = &ExplainOptions::copy;
        c.noFile = "no executable given";
        c.moreFiles = "give one executable";
        c.rest = "ARGS...";
        c.takeRest = TakeUserArguments;
        return c;
    }();
    return spec;
}

Outcome RunExplain(const ExplainOptions& o) {
    Outcome r;
    Explanation x;
    if (Explain(o, &x, &r)) r.output = o.json ? ExplainJson(x) : ExplainText(x);
    return r;
}

}  // namespace kelpack
