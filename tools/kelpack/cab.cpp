#include "cab.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "contract/kel.h"
#include "copy_contents.h"
#include "fileio.h"
#include "filetype/registration.h"
#include "image_limits.h"
#include "launcher/plan.h"
#include "launcher_view.h"
#include "options.h"
#include "output.h"
#include "pe.h"
#include "splash/config.h"
#include "wording.h"

namespace kelpack {

namespace {

constexpr const char* kEngineEntry = KEL_ENTRY_NAME;  // the routine the launcher calls

// What the runtime's cabinet is listed as on the device, unless given.
constexpr const char* kRuntimeProvider = "Norvane";
constexpr const char* kRuntimeName = "Kel Runtime";

bool Refuse(Outcome* r, int code, const std::string& why) {
    r->Fail(code, why);
    return false;
}

// The name without its last extension: "Game" for "Game.exe".
std::string Stem(const std::string& name) {
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Why the image is no launcher a device runs; empty when it is one.
std::vector<std::string> DeviceLauncherProblems(const PeImage& image) {
    if (image.machine != kMachineArm)
        return {"it is built for " + MachineName(image.machine) + " (" + (image.pe32plus ? "PE32+" : "PE32") +
                "), not for the ARM processor of a Windows CE device, so it is no copy of the device's kel.exe: pack "
                "the device's launcher (kel.exe of the wince-arm build) and make the cabinet from that copy"};
    std::vector<std::string> problems;
    if (image.subsystem == kSubsystemWindowsGui)
        problems.push_back("it is a desktop Windows program (subsystem 2), not a Windows CE one (subsystem 9)");
    for (const std::string& w : LauncherWarnings(image)) problems.push_back(w);
    return problems;
}

// Why a file of `size` bytes goes into no device's cabinet.
std::string TooLargeForDevice(std::uint64_t size) {
    return "it is " + MibText(size) + ", more than the 32 MiB slot a Windows CE 4.20 process has for its image, heap "
           "and stacks; no device could load it";
}

// What a start of the copy with a blank command line of the user's does:
// true when its merged line is blank, so that it registers the file type
// for itself.
bool RegistersWhenStartedBare(const ResourceList& res) {
    const Resource* cl = FindResource(res, TextType(), CommandLineName());
    const char* embedded = cl != nullptr ? reinterpret_cast<const char*>(cl->data.data()) : nullptr;
    launcher::StartPlan plan = launcher::PlanStart(embedded, static_cast<std::uint32_t>(cl != nullptr ? cl->data.size() : 0), u"");
    bool registers = plan.registration != filetype::kNone;
    launcher::FreeStartPlan(&plan);
    return registers;
}

// The moment a member carries: its file's last change, no later than
// SOURCE_DATE_EPOCH when that is set, so that the same inputs give the
// same cabinet however long after they were made.
bool MemberTime(const std::string& path, std::int64_t* when, Outcome* r) {
    if (!FileModified(path, when)) *when = 0;
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr || *epoch == '\0') return true;
    char* end = nullptr;
    errno = 0;
    long long clamp = std::strtoll(epoch, &end, 10);
    if (*end != '\0' || errno != 0 || clamp < 0)
        return Refuse(r, kExitUsage, std::string("SOURCE_DATE_EPOCH \"") + epoch + "\" is no number of seconds since 1970");
    if (*when > clamp) *when = clamp;
    return true;
}

// A member's file as it was when checked: one that changes before the
// cabinet is in place (a build still writing it, say) is not put into it.
struct Checked {
    std::string path;
    FileStamp stamp;
};

// A member read from its file as the cabinet is written.
bool TakeSource(const std::string& path, std::uint64_t size, MemberSource* source, std::vector<Checked>* checked, Outcome* r) {
    source->path = path;
    source->size = size;
    FileStamp stamp;
    if (!StampOf(path, &stamp) || stamp.size != size)
        return Refuse(r, kExitRead, path + ": it changed while kelpack read it");
    checked->push_back({path, stamp});
    return MemberTime(path, &source->time, r);
}

// The launcher copy: a CE ARM launcher no larger than a device starts; for
// the runtime, the launcher with no application of its own.
bool ReadCopy(const CabOptions& o, InstallRequest* req, ResourceList* res, std::vector<Checked>* checked, Outcome* r) {
    PeImage image;
    std::string why;
    std::uint64_t size = 0;
    switch (ReadLauncher(o.copy, kDeviceSlotBytes, &image, res, &size, &why)) {
        case LauncherRead::kRead: break;
        case LauncherRead::kUnreadable: return Refuse(r, kExitRead, o.copy + ": cannot read: " + why);
        case LauncherRead::kTooLarge: return Refuse(r, kExitRejected, o.copy + ": " + TooLargeForDevice(size));
        case LauncherRead::kNotUsable: return Refuse(r, kExitBadImage, o.copy + ": " + why);
    }
    for (const std::string& p : DeviceLauncherProblems(image)) r->Fail(kExitRejected, o.copy + ": not a launcher copy for the device: " + p);
    if (!r->Ok()) return false;
    if (image.sizeOfImage > kDeviceSlotBytes) return Refuse(r, kExitRejected, o.copy + ": " + ImageSizeRefusal(image.sizeOfImage));
    std::string sizeWarning = ImageSizeWarning(image.sizeOfImage);
    if (!sizeWarning.empty()) r->Warn(o.copy + ": " + sizeWarning);
    const bool hasApp = FindResource(*res, AppType(), AppName()) != nullptr;
    const bool registers = RegistersWhenStartedBare(*res);
    const std::string kel = ContractName(kel::kFileExtension);
    if (o.runtime && (hasApp || !registers))
        return Refuse(r, kExitRejected, o.copy + ": the runtime's launcher is the device's kel.exe as built, but this copy carries " +
                                            (hasApp ? "an application package" : "a command line") +
                                            ": it would start that application for every " + kel + " file opened");
    if (!o.runtime && !hasApp)
        r->Warn(o.copy + ": it carries no application package (" + ContractName(kel::kApplicationResourceType) + "); was it packed with --app?");
    if (!o.runtime && registers)
        r->Warn(o.copy + ": it carries no command line, so when started without one it registers the " + kel +
                " file type for itself, and removing the application leaves the file type pointing at a removed program; "
                "pack it with --command-line, and let the runtime cabinet (kelpack cab --runtime) own the file type");
    req->copyName = BaseName(o.copy);
    return TakeSource(o.copy, size, &req->copy, checked, r);
}

// The engine: an ARM DLL that exports the routine the launcher calls.
bool ReadEngine(const CabOptions& o, InstallRequest* req, std::vector<Checked>* checked, Outcome* r) {
    const std::string what = "--engine " + o.engine + ": ";
    std::string why;
    std::uint64_t size = 0;
    switch (ReadWithin(o.engine, kDeviceSlotBytes, &size, nullptr, &why)) {
        case ReadStatus::kRead: break;
        case ReadStatus::kUnreadable: return Refuse(r, kExitRead, what + "cannot read: " + why);
        case ReadStatus::kTooLarge: return Refuse(r, kExitRejected, what + TooLargeForDevice(size));
    }
    PeImage image;
    std::vector<std::string> exports;
    const bool parsed = ParsePe(PeBytes(o.engine, size), &image, &why);
    if (!image.bytes.failure().empty()) return Refuse(r, kExitRead, what + "cannot read: " + image.bytes.failure());
    if (!parsed) return Refuse(r, kExitRejected, what + why);
    if (image.machine != kMachineArm)
        return Refuse(r, kExitRejected, what + "it is built for " + MachineName(image.machine) +
                                            ", not for the ARM processor of a Windows CE device");
    if (!(image.characteristics & kFileDll)) return Refuse(r, kExitRejected, what + "it is a program, not a DLL");
    const bool listed = ReadExportNames(image, &exports, &why);
    if (!image.bytes.failure().empty()) return Refuse(r, kExitRead, what + "cannot read: " + image.bytes.failure());
    if (!listed) return Refuse(r, kExitRejected, what + why);
    bool entry = false;
    std::string names;
    for (const std::string& e : exports) {
        entry = entry || e == kEngineEntry;
        names += (names.empty() ? "" : ", ") + e;
    }
    if (!entry)
        return Refuse(r, kExitRejected, what + "it does not export " + kEngineEntry + ", the routine the launcher calls (it exports " +
                                            (names.empty() ? std::string("nothing") : names) + "): it is no Kel engine");
    if (BaseName(o.engine) != ContractName(kel::kEngineLibraryName))
        r->notes.push_back("--engine " + o.engine + " is installed as \\Windows\\" + ContractName(kel::kEngineLibraryName) +
                           ", the name the launcher loads");
    req->hasEngine = true;
    return TakeSource(o.engine, size, &req->engine, checked, r);
}

// A name as given or defaulted, and where it came from.
struct ChosenName {
    std::string text;
    std::string from;  // empty: given with its option
};

// Refuses a name the device cannot take, saying where it came from and
// which option sets it.
bool CheckName(const ChosenName& n, DeviceText kind, const char* what, const char* option, Outcome* r) {
    std::string why;
    if (CheckDeviceText(n.text, kind, &why)) return true;
    if (n.from.empty()) return Refuse(r, kExitRejected, std::string(option) + " \"" + n.text + "\": " + why);
    return Refuse(r, kExitRejected, std::string(what) + " \"" + n.text + "\" is " + n.from + ", as no " + option +
                                        " was given: " + why + "; " + option + " sets it");
}

// The name and provider: as given, else the runtime's own, else from the
// copy's title and file name; each checked against what the device takes.
bool ChooseNames(const CabOptions& o, const ResourceList& res, InstallRequest* req, Outcome* r) {
    ChosenName provider{o.provider, ""}, name{o.name, ""};
    if (!o.hasProvider) {
        provider = o.runtime ? ChosenName{kRuntimeProvider, "the runtime's provider"}
                             : ChosenName{Stem(req->copyName), "the copy's file name without .exe"};
        r->notes.push_back("no --provider: the provider is \"" + provider.text + "\", " + provider.from);
    }
    if (!o.hasName && o.runtime) {
        name = ChosenName{kRuntimeName, "the runtime's name"};
        r->notes.push_back("no --name: the runtime is named \"" + name.text + "\"");
    } else if (!o.hasName) {
        bool packed = false;
        splash::SplashConfig* config = LauncherSplashConfig(res, &packed);
        const char* title = packed ? splash::FindSplashValue(config, splash::kSplashTitleKey, nullptr) : nullptr;
        std::string titleText = title != nullptr ? title : "", why;
        splash::FreeSplashConfig(config);
        if (title != nullptr && CheckDeviceText(titleText, DeviceText::kAppName, &why)) {
            name = ChosenName{titleText, "the copy's splash title"};
        } else {
            name = ChosenName{Stem(req->copyName), "the copy's file name without .exe"};
            if (title != nullptr) name.from += " (its splash title \"" + titleText + "\" cannot be: " + why + ")";
        }
        r->notes.push_back("no --name: the application is named \"" + name.text + "\", " + name.from);
    }
    if (!CheckName(provider, DeviceText::kProvider, "the provider", "--provider", r) ||
        !CheckName(name, DeviceText::kAppName, "the application name", "--name", r))
        return false;
    req->provider = provider.text;
    req->appName = name.text;
    return true;
}

// Reads the cabinet just written, a block at a time, with the same reader
// `show` uses, and compares each member with its source: the bytes held, or
// its file, which must also still be as it was when checked.
bool ReadsBackAs(const std::string& path, const std::vector<CabFile>& members, const std::vector<Checked>& checked,
                 std::string* why) {
    std::uint64_t size = 0;
    if (!FileSize(path, &size, why)) return false;
    ReadOnlyFile file(path);
    CabFetch fetch = [&](std::uint64_t at, std::size_t n, std::uint8_t* out) { return file.Read(at, n, out, why); };
    // The folder's data runs through the members in order.
    std::size_t member = 0;
    std::uint64_t at = 0;  // within the member
    std::unique_ptr<ReadOnlyFile> source;
    std::vector<std::uint8_t> expected;
    CabDataSink data = [&](std::uint16_t, const std::uint8_t* bytes, std::size_t n) {
        while (n > 0) {
            while (member < members.size() && at == CabFileSize(members[member])) ++member, at = 0, source.reset();
            if (member == members.size()) return (*why = "the folder holds more data than its members"), false;
            const CabFile& f = members[member];
            std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(CabFileSize(f) - at, n));
            const std::uint8_t* want = f.data.data() + at;
            if (!f.path.empty()) {
                if (!source) source.reset(new ReadOnlyFile(f.path));
                expected.resize(part);
                if (!source->Read(at, part, expected.data(), why)) return false;
                want = expected.data();
            }
            if (!std::equal(bytes, bytes + part, want)) return (*why = f.name + " reads back otherwise than its source"), false;
            bytes += part, n -= part, at += part;
        }
        return true;
    };
    Cabinet cab;
    if (!ReadCabinet(size, fetch, data, &cab, why)) return false;
    if (cab.files.size() != members.size()) return (*why = "it holds " + Counted(cab.files.size(), "file")), false;
    for (std::size_t i = 0; i < members.size(); ++i)
        if (cab.files[i].name != members[i].name || cab.files[i].size != CabFileSize(members[i]))
            return (*why = cab.files[i].name + " is listed otherwise than it was written"), false;
    for (const Checked& c : checked) {
        FileStamp now;
        if (!StampOf(c.path, &now) || !(now == c.stamp)) return (*why = c.path + " changed while kelpack ran"), false;
    }
    return true;
}

std::string Summary(const CabOptions& o, const InstallRequest& req, std::uint64_t bytes) {
    const std::string engine = ContractName(kel::kEngineLibraryName);
    std::string s = "wrote " + o.output + ": installs \"" + req.provider + " " + req.appName + "\" on Windows CE 4.20 and later (ARM): ";
    if (req.runtime) s += RuntimeLauncherName() + " and " + engine + " in \\Windows (" + engine + " shared)";
    else s += req.copyName + " in \\Program Files\\" + req.appName;
    if (req.hasEngine && !req.runtime) s += ", " + engine + " in \\Windows (shared)";
    if (req.shortcut != ShortcutFolder::kNone)
        s += std::string(", a shortcut in the Start menu's ") + (req.shortcut == ShortcutFolder::kGames ? "Games" : "Programs");
    if (req.runtime) s += ", the " + ContractName(kel::kFileExtension) + " file type for " + RuntimeLauncherName();
    return s + "; " + std::to_string(bytes) + " bytes" + (o.compress ? ", compressed with MSZIP" : "");
}

// The cabinet's files laid out, written through `output` a block at a
// time and read back.
bool WriteCab(const CabOptions& o, const Output& output, const std::vector<CabFile>& files, const std::vector<Checked>& checked,
              std::uint64_t* written, Outcome* r) {
    std::string why;
    auto content = [&](const ByteSink& sink, const BytePatcher& patch, std::string* error) {
        return WriteCabinet(files, 0, o.compress ? kCabMszip : kCabStored, sink, patch, written, error);
    };
    auto readsBack = [&](const std::string& path, std::string* reason) { return ReadsBackAs(path, files, checked, reason); };
    switch (output.Write(content, readsBack, &why)) {
        case WriteOutcome::kWritten: return true;
        case WriteOutcome::kRefused: return Refuse(r, kExitBadImage, output.Path() + ": the cabinet does not read back as written: " + why);
        case WriteOutcome::kFailed: return Refuse(r, kExitWrite, output.Path() + ": " + why);
    }
    return false;
}

// Reads, checks, lays out and writes; false when a step failed.
bool MakeCab(const CabOptions& o, const Output& output, Outcome* r) {
    InstallRequest req;
    ResourceList res;
    std::vector<Checked> checked;
    output.Admit(o.copy, o.copy, r);
    if (!o.engine.empty()) output.Admit(o.engine, "--engine " + o.engine, r);
    if (!r->Ok() || !ReadCopy(o, &req, &res, &checked, r)) return false;
    if (!o.engine.empty() && !ReadEngine(o, &req, &checked, r)) return false;
    if (!ChooseNames(o, res, &req, r)) return false;
    req.shortcut = o.shortcut;
    req.runtime = o.runtime;
    CeInstall install;
    std::vector<CabFile> files;
    std::string why;
    if (!BuildInstall(req, &install, &files, &why)) return Refuse(r, kExitRejected, o.copy + ": " + why);
    std::uint64_t written = 0;
    if (!WriteCab(o, output, files, checked, &written, r)) return false;
    r->output = Summary(o, req, written) + "\n";
    return true;
}

}  // namespace

namespace {

bool SetShortcut(CabOptions* o, const std::string& value, std::string* why) {
    o->hasShortcut = true;
    if (value == "programs" || value == "games" || value == "none")
        o->shortcut = value == "programs" ? ShortcutFolder::kPrograms : value == "games" ? ShortcutFolder::kGames : ShortcutFolder::kNone;
    else *why = "--shortcut \"" + value + "\": give programs, games or none";
    return why->empty();
}

bool SetEngine(CabOptions* o, const std::string& value, std::string* why) {
    o->engine = value;
    if (value.empty()) *why = "--engine needs a file";
    return why->empty();
}

bool CheckCabOptions(CabOptions* o, std::string* why) {
    const std::string kel = ContractName(kel::kFileExtension);
    if (o->output.empty()) *why = "no output given (-o OUTPUT)";
    else if (o->runtime && o->engine.empty()) *why = "--runtime needs --engine: the runtime installs the engine the applications share";
    else if (o->registerFileType && !o->runtime)
        *why = "--register-filetype: an application's cabinet does not register the " + kel +
               " file type, since the device removes it with the application and so takes it from every other; the "
               "runtime cabinet owns it (kelpack cab --runtime kel.exe --engine " + ContractName(kel::kEngineLibraryName) + ")";
    if (o->runtime && !o->hasShortcut) o->shortcut = ShortcutFolder::kNone;
    return why->empty();
}

}  // namespace

const CommandSpec<CabOptions>& CabSpec() {
    static const CommandSpec<CabOptions> spec = [] {
        const std::string engine = ContractName(kel::kEngineLibraryName);
        const std::string kel = ContractName(kel::kFileExtension);
        CommandSpec<CabOptions> c;
        c.name = "cab";
        c.usage = {"kelpack cab COPY -o OUTPUT [options]", "kelpack cab --runtime KEL.EXE --engine DLL -o OUTPUT [options]"};
        c.summary = "an installation cabinet for the device";
        c.about = "Writes OUTPUT, an installation cabinet (.cab) that a Windows CE 4.20 or later\n"
                  "device on ARM installs, lists under Remove Programs and removes again. COPY is a\n"
                  "launcher copy made by kelpack pack from the device's kel.exe; it is installed\n"
                  "in \\Program Files\\NAME under its own file name, which must end in .exe.\n"
                  "With --runtime, the cabinet is the runtime the applications share: the device's\n"
                  "kel.exe as built, installed as \\Windows\\Kel.exe beside the engine, which\n"
                  "registers the " + kel + " file type for it; removing it removes the registration.\n"
                  "An application's cabinet never registers the file type, so that removing one\n"
                  "application leaves it to the others. Input files are never changed, and OUTPUT\n"
                  "is written whole or not at all.\n";
        c.column = 29;
        c.options = {
            {{"--output", "-o", "FILE", false}, "the cabinet to write (required)", Sets<&CabOptions::output>},
            {{"--name", nullptr, "NAME", false},
             "the application's name on the device and its folder\n"
             "(default: COPY's splash title, else its file name\n"
             "without .exe; the runtime's: " + std::string(kRuntimeName) + "); printable\n"
             "ASCII, at most 40 characters, none of \\ / : * ? \" < > | & %",
             SetsGiven<&CabOptions::hasName, &CabOptions::name>},
            {{"--provider", nullptr, "TEXT", false},
             "who makes it; the device lists \"PROVIDER NAME\"\n"
             "(default: COPY's file name without .exe; the\n"
             "runtime's: " + std::string(kRuntimeProvider) + "); printable ASCII, at most 30\n"
             "characters, none of \\ / : * ? \" < > | &",
             SetsGiven<&CabOptions::hasProvider, &CabOptions::provider>},
            {{"--shortcut", nullptr, "programs|games|none", false},
             "a Start menu shortcut to COPY in Programs (default;\n"
             "none for the runtime) or Games, or none",
             SetShortcut},
            {{"--engine", nullptr, "DLL", false},
             "also installs the engine, an ARM DLL that exports\n"
             "KelMainW, as \\Windows\\" + engine + ", shared with the other\n"
             "applications that install it and never put over\n"
             "a newer one (required with --runtime)",
             SetEngine},
            // Only to say why an application's cabinet never registers the file type.
            {{"--register-filetype", nullptr, nullptr, false}, "", Sets<&CabOptions::registerFileType>},
            {{"--runtime", nullptr, nullptr, false}, "makes the runtime's cabinet (above)", Sets<&CabOptions::runtime>},
            {{"--compress", nullptr, nullptr, false},
             "compresses the cabinet with MSZIP, which the device's\n"
             "installer inflates (default: stored, as most are)",
             Sets<&CabOptions::compress>},
        };
        c.epilogue = "Each file carries its last change as its date (the installer never puts a file\n"
                     "over a newer one), no later than SOURCE_DATE_EPOCH when that is set.\n"
                     "\n"
                     "Examples:\n"
                     "  kelpack cab Game.exe -o Game.cab --provider \"Example Software\" --compress\n"
                     "  kelpack cab --runtime kel.exe --engine " + engine + " -o KelRuntime.cab --compress\n";
        c.file = &CabOptions::copy;
        c.noFile = "no launcher copy given";
        c.moreFiles = "more than one launcher copy given";
        c.check = CheckCabOptions;
        return c;
    }();
    return spec;
}

Outcome RunCab(const CabOptions& o) {
    Outcome r;
    const Output output(o.output);
    if (!MakeCab(o, output, &r)) r.nothingWritten = r.exitCode != kExitUsage;
    return r;
}

}  // namespace kelpack
