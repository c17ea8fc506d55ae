#include "cab.h"

#include "contract/kel.h"
#include "copy_contents.h"
#include "fileio.h"
#include "image_limits.h"
#include "launcher_view.h"
#include "pack.h"
#include "pe.h"
#include "splash/config.h"
#include "wording.h"

namespace kelpack {

namespace {

constexpr std::uint16_t kMachineArm = 0x1c0;
constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr const char* kEngineEntry = "KelMainW";

bool Refuse(CabResult* r, int code, const std::string& why) {
    r->errors.push_back(why);
    r->exitCode = code;
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

// A file no larger than a device can load, checked before it is read.
bool FitsDevice(const std::string& path, const std::string& what, CabResult* r) {
    std::uint64_t size = 0;
    std::string why;
    if (!FileSize(path, &size, &why)) return Refuse(r, kExitRead, what + ": cannot read: " + why);
    if (size > kDeviceSlotBytes)
        return Refuse(r, kExitRejected, what + ": it is " + MibText(size) + ", more than the 32 MiB slot a " +
                                            "Windows CE 4.20 process has for its image, heap and stacks; no device could load it");
    return true;
}

// The launcher copy: a CE ARM launcher no larger than a device starts.
bool ReadCopy(const CabOptions& o, InstallRequest* req, ResourceList* res, CabResult* r) {
    if (!FitsDevice(o.copy, o.copy, r)) return false;
    PeImage image;
    std::string why;
    int code = kExitOk;
    if (!ReadLauncherFile(o.copy, &image, res, &why, &code)) return Refuse(r, code, why);
    for (const std::string& p : DeviceLauncherProblems(image)) {
        r->errors.push_back(o.copy + ": not a launcher copy for the device: " + p);
        r->exitCode = kExitRejected;
    }
    if (r->exitCode != kExitOk) return false;
    if (image.sizeOfImage > kDeviceSlotBytes) return Refuse(r, kExitRejected, o.copy + ": " + ImageSizeRefusal(image.sizeOfImage));
    std::string sizeWarning = ImageSizeWarning(image.sizeOfImage);
    if (!sizeWarning.empty()) r->warnings.push_back(o.copy + ": " + sizeWarning);
    if (FindResource(*res, AppType(), AppName()) == nullptr)
        r->warnings.push_back(o.copy + ": it carries no application package (" + ContractName(kel::kApplicationResourceType) +
                              "); was it packed with --app?");
    req->copyName = BaseName(o.copy);
    req->copy = std::move(image.bytes);
    if (!FileModified(o.copy, &req->copyTime)) req->copyTime = 0;
    return true;
}

// The engine: an ARM DLL that exports the routine the launcher calls.
bool ReadEngine(const CabOptions& o, InstallRequest* req, CabResult* r) {
    const std::string what = "--engine " + o.engine + ": ";
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!FitsDevice(o.engine, "--engine " + o.engine, r)) return false;
    if (!ReadFile(o.engine, &bytes, &why)) return Refuse(r, kExitRead, what + "cannot read: " + why);
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
void ChooseNames(const CabOptions& o, const ResourceList& res, InstallRequest* req, CabResult* r) {
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

// The output is none of the inputs, nor the temporary file it goes through.
bool OutputIsNoInput(const CabOptions& o, CabResult* r) {
    FileIdentity output = IdentifyFile(o.output), temporary = IdentifyFile(TemporaryPath(o.output));
    std::vector<std::pair<std::string, std::string>> inputs = {{o.copy, o.copy}};
    if (!o.engine.empty()) inputs.push_back({o.engine, "--engine " + o.engine});
    for (const auto& input : inputs) {
        FileIdentity id = IdentifyFile(input.first);
        if (SameIdentity(id, output))
            return Refuse(r, kExitUsage, "-o " + o.output + " and " + input.second +
                                             " are the same file; kelpack never changes its input, so choose another output");
        if (SameIdentity(id, temporary))
            return Refuse(r, kExitUsage, input.second + " is " + TemporaryPath(o.output) + ", the temporary file kelpack writes -o " +
                                             o.output + " through; rename it or choose another output");
    }
    return true;
}

// The cabinet read back must hold the very files laid out.
bool ReadsBackAs(const std::vector<CabFile>& files, std::vector<std::uint8_t>& back, std::string* why) {
    Cabinet cab;
    CeInstall install;
    if (!ReadCabinet(back, &cab, why)) return false;
    if (cab.files.size() != files.size()) return (*why = "it holds " + Counted(cab.files.size(), "file")), false;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (cab.files[i].name != files[i].name || CabFileData(cab, cab.files[i]) != files[i].data)
            return (*why = cab.files[i].name + " differs from what was written"), false;
    return ReadInstallData(files[0].data, &install, why);
}

std::string Summary(const CabOptions& o, const InstallRequest& req, std::size_t bytes) {
    std::string s = "wrote " + o.output + ": installs \"" + req.provider + " " + req.appName + "\" on Windows CE 4.20 and later (ARM): " +
                    req.copyName + " in \\Program Files\\" + req.appName;
    if (req.hasEngine) s += ", " + ContractName(kel::kEngineLibraryName) + " in \\Windows (shared)";
    if (req.shortcut != ShortcutFolder::kNone)
        s += std::string(", a shortcut in the Start menu's ") + (req.shortcut == ShortcutFolder::kGames ? "Games" : "Programs");
    if (req.registerFileType) s += ", the " + ContractName(kel::kFileExtension) + " file type";
    return s + "; " + std::to_string(bytes) + " bytes";
}

}  // namespace

CabResult RunCab(const CabOptions& o) {
    CabResult r;
    InstallRequest req;
    ResourceList res;
    if (!OutputIsNoInput(o, &r) || !ReadCopy(o, &req, &res, &r)) return r;
    if (!o.engine.empty() && !ReadEngine(o, &req, &r)) return r;
    ChooseNames(o, res, &req, &r);
    req.shortcut = o.shortcut;
    req.registerFileType = o.registerFileType;
    CeInstall install;
    std::vector<CabFile> files;
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!BuildInstall(req, &install, &files, &why)) {
        Refuse(&r, kExitRejected, o.copy + ": " + why);
        return r;
    }
    if (!WriteCabinet(files, 0, &bytes, &why)) {
        Refuse(&r, kExitRejected, why);
        return r;
    }
    auto readsBack = [&](std::vector<std::uint8_t>& back, std::string* reason) { return ReadsBackAs(files, back, reason); };
    switch (WriteFileChecked(o.output, bytes, "", readsBack, &why)) {
        case WriteOutcome::kWritten:
            break;
        case WriteOutcome::kRefused:
            Refuse(&r, kExitBadImage, o.output + ": the cabinet does not read back as written: " + why);
            return r;
        case WriteOutcome::kFailed:
            Refuse(&r, kExitWrite, o.output + ": " + why);
            return r;
    }
    r.summary = Summary(o, req, bytes.size());
    return r;
}

}  // namespace kelpack
