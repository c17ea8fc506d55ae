#include "cab.h"

#include "contract/kel.h"
#include "copy_contents.h"
#include "fileio.h"
#include "image_limits.h"
#include "launcher_view.h"
#include "options.h"
#include "output.h"
#include "pe.h"
#include "splash/config.h"
#include "wording.h"

namespace kelpack {

namespace {

constexpr std::uint16_t kMachineArm = 0x1c0;
constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr const char* kEngineEntry = "KelMainW";

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

// The launcher copy: a CE ARM launcher no larger than a device starts.
bool ReadCopy(const CabOptions& o, InstallRequest* req, ResourceList* res, Outcome* r) {
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
    if (FindResource(*res, AppType(), AppName()) == nullptr)
        r->Warn(o.copy + ": it carries no application package (" + ContractName(kel::kApplicationResourceType) +
                              "); was it packed with --app?");
    req->copyName = BaseName(o.copy);
    req->copy = std::move(image.bytes);
    if (!FileModified(o.copy, &req->copyTime)) req->copyTime = 0;
    return true;
}

// The engine: an ARM DLL that exports the routine the launcher calls.
bool ReadEngine(const CabOptions& o, InstallRequest* req, Outcome* r) {
    const std::string what = "--engine " + o.engine + ": ";
    std::vector<std::uint8_t> bytes;
    std::string why;
    std::uint64_t size = 0;
    switch (ReadWithin(o.engine, kDeviceSlotBytes, &size, &bytes, &why)) {
        case ReadStatus::kRead: break;
        case ReadStatus::kUnreadable: return Refuse(r, kExitRead, what + "cannot read: " + why);
        case ReadStatus::kTooLarge: return Refuse(r, kExitRejected, what + TooLargeForDevice(size));
    }
    PeImage image;
    std::vector<std::string> exports;
    if (!ParsePe(std::move(bytes), &image, &why)) return Refuse(r, kExitRejected, what + why);
    if (image.machine != kMachineArm)
        return Refuse(r, kExitRejected, what + "it is built for " + MachineName(image.machine) +
                                            ", not for the ARM processor of a Windows CE device");
    if (!(image.characteristics & kFileDll)) return Refuse(r, kExitRejected, what + "it is a program, not a DLL");
    if (!ReadExportNames(image, &exports, &why)) return Refuse(r, kExitRejected, what + why);
    bool entry = false;
    std::string listed;
    for (const std::string& e : exports) {
        entry = entry || e == kEngineEntry;
        listed += (listed.empty() ? "" : ", ") + e;
    }
    if (!entry)
        return Refuse(r, kExitRejected, what + "it does not export " + kEngineEntry + ", the routine the launcher calls (it exports " +
                                            (listed.empty() ? std::string("nothing") : listed) + "): it is no Kel engine");
    if (BaseName(o.engine) != ContractName(kel::kEngineLibraryName))
        r->notes.push_back("--engine " + o.engine + " is installed as \\Windows\\" + ContractName(kel::kEngineLibraryName) +
                           ", the name the launcher loads");
    req->hasEngine = true;
    req->engine = std::move(image.bytes);
    if (!FileModified(o.engine, &req->engineTime)) req->engineTime = 0;
    return true;
}

// The name and provider: as given, else from the copy's own title and file name.
void ChooseNames(const CabOptions& o, const ResourceList& res, InstallRequest* req, Outcome* r) {
    req->provider = o.hasProvider ? o.provider : Stem(req->copyName);
    if (!o.hasProvider) r->notes.push_back("no --provider: the provider is \"" + req->provider + "\", the copy's file name without .exe");
    if (o.hasName) {
        req->appName = o.name;
        return;
    }
    bool packed = false;
    splash::SplashConfig* config = LauncherSplashConfig(res, &packed);
    const char* title = packed ? splash::FindSplashValue(config, splash::kSplashTitleKey, nullptr) : nullptr;
    std::string why;
    if (title != nullptr && CheckDeviceName(title, true, &why)) {
        req->appName = title;
        r->notes.push_back("no --name: the application is named \"" + req->appName + "\", the copy's splash title");
    } else {
        req->appName = Stem(req->copyName);
        r->notes.push_back("no --name: the application is named \"" + req->appName + "\", the copy's file name without .exe" +
                           (title != nullptr ? " (its splash title \"" + std::string(title) + "\" cannot be: " + why + ")" : ""));
    }
    splash::FreeSplashConfig(config);
}

// The cabinet read back must hold the very files laid out.
bool ReadsBackAs(const std::vector<CabFile>& files, const std::vector<std::uint8_t>& back, std::string* why) {
    Cabinet cab;
    CeInstall install;
    if (!ReadCabinet(back, &cab, why)) return false;
    if (cab.files.size() != files.size()) return (*why = "it holds " + Counted(cab.files.size(), "file")), false;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (cab.files[i].name != files[i].name || CabFileData(cab, cab.files[i]) != files[i].data)
            return (*why = cab.files[i].name + " differs from what was written"), false;
    return ReadInstallData(files[0].data, &install, why);
}

std::string Summary(const CabOptions& o, const InstallRequest& req, const std::string& bytes) {
    std::string s = "wrote " + o.output + ": installs \"" + req.provider + " " + req.appName + "\" on Windows CE 4.20 and later (ARM): " +
                    req.copyName + " in \\Program Files\\" + req.appName;
    if (req.hasEngine) s += ", " + ContractName(kel::kEngineLibraryName) + " in \\Windows (shared)";
    if (req.shortcut != ShortcutFolder::kNone)
        s += std::string(", a shortcut in the Start menu's ") + (req.shortcut == ShortcutFolder::kGames ? "Games" : "Programs");
    if (req.registerFileType) s += ", the " + ContractName(kel::kFileExtension) + " file type";
    return s + "; " + bytes + " bytes";
}

// The cabinet's files laid out, written through `output` and read back.
bool WriteCab(const Output& output, const std::vector<CabFile>& files, Outcome* r) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!WriteCabinet(files, 0, &bytes, &why)) return Refuse(r, kExitRejected, why);
    auto readsBack = [&](std::vector<std::uint8_t>& back, std::string* reason) { return ReadsBackAs(files, back, reason); };
    auto content = [&](const ByteSink& sink, std::string*) { return sink(bytes.data(), bytes.size()); };
    switch (output.Write(content, "", readsBack, &why)) {
        case WriteOutcome::kWritten: break;
        case WriteOutcome::kRefused: return Refuse(r, kExitBadImage, output.Path() + ": the cabinet does not read back as written: " + why);
        case WriteOutcome::kFailed: return Refuse(r, kExitWrite, output.Path() + ": " + why);
    }
    r->output = std::to_string(bytes.size());
    return true;
}

// Reads, checks, lays out and writes; false when a step failed.
bool MakeCab(const CabOptions& o, const Output& output, Outcome* r) {
    InstallRequest req;
    ResourceList res;
    output.Admit(o.copy, o.copy, r);
    if (!o.engine.empty()) output.Admit(o.engine, "--engine " + o.engine, r);
    if (!r->Ok() || !ReadCopy(o, &req, &res, r)) return false;
    if (!o.engine.empty() && !ReadEngine(o, &req, r)) return false;
    ChooseNames(o, res, &req, r);
    req.shortcut = o.shortcut;
    req.registerFileType = o.registerFileType;
    CeInstall install;
    std::vector<CabFile> files;
    std::string why;
    if (!BuildInstall(req, &install, &files, &why)) return Refuse(r, kExitRejected, o.copy + ": " + why);
    if (!WriteCab(output, files, r)) return false;
    r->output = Summary(o, req, r->output) + "\n";
    return true;
}

}  // namespace

bool ParseCabArguments(const std::vector<std::string>& args, CabOptions* o, bool* help, std::string* why) {
    const std::vector<OptionSpec> options = {{"--output", "-o", true, false},   {"--name", nullptr, true, false},
                                             {"--provider", nullptr, true, false}, {"--shortcut", nullptr, true, false},
                                             {"--engine", nullptr, true, false},   {"--register-filetype", nullptr, false, false}};
    auto take = [o](const std::string& name, const std::string& value, std::string* reason) {
        if (name == "--output") o->output = value;
        else if (name == "--name") o->hasName = true, o->name = value;
        else if (name == "--provider") o->hasProvider = true, o->provider = value;
        else if (name == "--engine") o->engine = value;
        else if (name == "--register-filetype") o->registerFileType = true;
        else if (value == "programs" || value == "games" || value == "none")
            o->shortcut = value == "programs" ? ShortcutFolder::kPrograms : value == "games" ? ShortcutFolder::kGames : ShortcutFolder::kNone;
        else *reason = "--shortcut \"" + value + "\": give programs, games or none";
        if (name == "--engine" && value.empty()) *reason = "--engine needs a file";
        return reason->empty();
    };
    Arguments a;
    if (!ReadArguments(args, options, false, take, &a, why)) return false;
    *help = a.help;
    if (a.help) return true;
    if (a.positional.size() != 1) *why = a.positional.empty() ? "no launcher copy given" : "more than one launcher copy given";
    else if (o->output.empty()) *why = "no output given (-o OUTPUT)";
    if (!why->empty()) return false;
    o->copy = a.positional[0];
    return true;
}

Outcome RunCab(const CabOptions& o) {
    Outcome r;
    const Output output(o.output);
    if (!MakeCab(o, output, &r)) r.nothingWritten = r.exitCode != kExitUsage;
    return r;
}

}  // namespace kelpack
