#include "cab_show.h"

#include <cstdio>

#include "cabinet.h"
#include "fileio.h"
#include "image_limits.h"
#include "outcome.h"
#include "pe.h"
#include "wording.h"

namespace kelpack {

namespace {

bool EndsWith(const std::string& s, const std::string& end) {
    if (s.size() < end.size()) return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        char c = s[s.size() - end.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != end[i]) return false;
    }
    return true;
}

std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

const CeDir* FindDir(const CeInstall& in, std::uint16_t id) {
    for (const CeDir& d : in.dirs)
        if (d.id == id) return &d;
    return nullptr;
}

// The installed place of file `id`: its folder's pieces and its name.
bool FilePath(const CeInstall& in, std::uint16_t id, std::vector<std::string>* path) {
    for (const CeFile& f : in.files) {
        if (f.id != id) continue;
        const CeDir* d = FindDir(in, f.dir);
        *path = d != nullptr ? d->path : std::vector<std::string>{"(directory " + std::to_string(f.dir) + ")"};
        path->push_back(f.name);
        return true;
    }
    return false;
}

// The member number NNN of a name "XXXXXXXX.NNN"; -1 for another name.
int MemberNumber(const std::string& name) {
    std::size_t dot = name.rfind('.');
    std::string number = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (number.size() != 3 || number.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(number);
}

// The cabinet's files matched with the FILES entries that place them, and
// the programs among them read as launcher copies.
void PlaceFiles(const Cabinet& cab, std::size_t dataIndex, CabReport* r) {
    for (std::size_t i = 0; i < cab.files.size(); ++i) {
        if (i == dataIndex) continue;
        const CabMember& e = cab.files[i];
        ShownCabFile f;
        f.member = e.name;
        f.size = e.size;
        f.modified = DosDateTimeText(e.date, e.time);
        std::vector<std::string> path;
        if (MemberNumber(e.name) >= 0) {
            std::uint16_t id = static_cast<std::uint16_t>(MemberNumber(e.name));
            f.installed = FilePath(r->install, id, &path);
            for (const CeFile& x : r->install.files)
                if (x.id == id) f.flags = x.flags;
        }
        f.destination = JoinCePath(path);
        f.onDevice = CeDevicePath(path, r->install.appName);
        if (f.installed && EndsWith(f.destination, ".exe")) {
            ShownCabProgram p;
            p.destination = f.destination;
            p.member = e.name;
            PeImage image;
            ResourceList res;
            p.readable = ParsePe(CabFileData(cab, e), &image, &p.problem) && ReadResources(image, &res, &p.problem);
            if (p.readable) FillShowReport(f.destination, image, std::move(res), &p.report);
            for (const std::string& w : p.report.warnings) r->warnings.push_back(r->file + ": " + w);
            r->programs.push_back(std::move(p));
        }
        r->files.push_back(f);
    }
}

// What keeps the installer from carrying the cabinet out: a file the data
// installs that the cabinet lacks, a member nothing installs, an entry
// naming a folder, file or key the data does not have.
std::vector<std::string> InstallProblems(const Cabinet& cab, std::size_t dataIndex, const CeInstall& in) {
    std::vector<std::string> problems;
    for (const CeFile& f : in.files) {
        bool present = false;
        for (std::size_t i = 0; i < cab.files.size(); ++i) present = present || (i != dataIndex && MemberNumber(cab.files[i].name) == f.id);
        if (!present)
            problems.push_back("the installation data installs file " + std::to_string(f.id) + " (" + Printable(f.name) +
                               "), but the cabinet has no member numbered ." + (f.id < 10 ? "00" : f.id < 100 ? "0" : "") + std::to_string(f.id));
        if (FindDir(in, f.dir) == nullptr)
            problems.push_back("file " + std::to_string(f.id) + " (" + Printable(f.name) + ") goes to directory " + std::to_string(f.dir) +
                               ", which the installation data does not have");
    }
    for (std::size_t i = 0; i < cab.files.size(); ++i) {
        if (i == dataIndex) continue;
        int number = MemberNumber(cab.files[i].name);
        bool named = false;
        for (const CeFile& f : in.files) named = named || f.id == number;
        if (!named) problems.push_back(cab.files[i].name + " is in the cabinet, but no FILES entry of the installation data installs it");
    }
    std::vector<std::string> path;
    for (const CeLink& l : in.links)
        if (l.toFile ? !FilePath(in, l.target, &path) : FindDir(in, l.target) == nullptr)
            problems.push_back("shortcut " + Printable(JoinCePath(l.path)) + " points to " + (l.toFile ? "file " : "directory ") +
                               std::to_string(l.target) + ", which the installation data does not have");
    for (const CeRegValue& v : in.values) {
        bool known = false;
        for (const CeRegKey& k : in.keys) known = known || k.id == v.key;
        if (!known) problems.push_back("registry value " + std::to_string(v.id) + " belongs to key " + std::to_string(v.key) +
                                       ", which the installation data does not have");
    }
    return problems;
}

}  // namespace

bool LooksLikeCabinet(const std::string& path) {
    std::uint64_t size = 0;
    std::string why, head;
    if (!FileSize(path, &size, &why) || size < 4) return false;
    auto take = [&head](const std::uint8_t* data, std::size_t n) { return head.append(reinterpret_cast<const char*>(data), n), true; };
    return ReadFileChunks(path, 0, 4, take, &why) && head == "MSCF";
}

bool MakeCabReport(const std::string& path, CabReport* r, Outcome* outcome) {
    *r = CabReport();
    r->file = path;
    std::vector<std::uint8_t> bytes;
    std::string why;
    switch (ReadWithin(path, kMaxPeBytes, &r->size, &bytes, &why)) {
        case ReadStatus::kRead: break;
        case ReadStatus::kUnreadable: outcome->Fail(kExitRead, path + ": cannot read: " + why); return false;
        case ReadStatus::kTooLarge: why = "it is " + MibText(r->size) + ", more than the 4 GiB a cabinet can span"; break;
    }
    Cabinet cab;
    std::size_t data = 0;
    if (why.empty() && ReadCabinet(bytes, &cab, &why)) {
        while (data < cab.files.size() && !EndsWith(cab.files[data].name, ".000")) ++data;
        if (data == cab.files.size()) why = "no installation data: no file of the cabinet ends in .000";
        else if (ReadInstallData(CabFileData(cab, cab.files[data]), &r->install, &why)) why.clear();
        else why = cab.files[data].name + ": " + why;
    }
    if (!why.empty()) {
        outcome->Fail(kExitBadImage, path + ": not an installation cabinet kelpack reads: " + why);
        return false;
    }
    std::vector<std::string> problems = InstallProblems(cab, data, r->install);
    if (!problems.empty()) {
        std::string error = path + ": not an installable cabinet: ";
        for (std::size_t i = 0; i < problems.size(); ++i) error += (i ? "; " : "") + problems[i];
        outcome->Fail(kExitBadImage, error);
        return false;
    }
    r->blocks = cab.blocks;
    for (std::uint16_t c : cab.compression)
        if (c != kCabStored) r->compression = CabCompressionName(c);
    r->dataMember = cab.files[data].name;
    if (data != 0) r->warnings.push_back(path + ": " + r->dataMember + " is not the cabinet's first file, where the installer looks for it");
    PlaceFiles(cab, data, r);
    return true;
}

std::string CeFileFlagsText(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {kCeFileShared, "shared (reference-counted)"}, {kCeFileAlwaysOverwrite, "always overwrites"},
        {kCeFileKeepNewer, "never over a newer file"},  {kCeFileKeepExisting, "never over an existing file"},
        {kCeFileNoSkip, "must not be skipped"},          {kCeFileWarnSkip, "warns when skipped"},
    };
    std::string text;
    for (const auto& n : kNames)
        if (flags & n.first) text += (text.empty() ? "" : ", ") + std::string(n.second), flags &= ~n.first;
    if (flags != 0) text += (text.empty() ? "" : ", ") + std::string("other flags ") + Hex(flags);
    return text;
}

std::string CeValueText(const CeRegValue& v) {
    const std::uint32_t kind = v.type & ~kCeRegKeepExisting;
    if (kind == kCeRegString && !v.data.empty() && v.data.back() == 0)
        return "\"" + Printable(std::string(v.data.begin(), v.data.end() - 1)) + "\"";
    if (kind == kCeRegDword && v.data.size() == 4)
        return std::to_string(v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<std::uint32_t>(v.data[3]) << 24);
    std::string hex;
    for (std::uint8_t b : v.data) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += (hex.empty() ? "" : " ") + std::string(buf);
    }
    return "bytes [" + hex + "]";
}

namespace {

std::string Version(std::uint32_t major, std::uint32_t minor) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%02u", major, minor);
    return buf;
}

// "4.20 and later", "up to 5.02", "4.20 to 5.02", "any".
std::string VersionsText(const CeInstall& in) {
    bool low = in.minMajor || in.minMinor, high = in.maxMajor || in.maxMinor;
    if (low && high) return Version(in.minMajor, in.minMinor) + " to " + Version(in.maxMajor, in.maxMinor);
    if (low) return Version(in.minMajor, in.minMinor) + " and later";
    return high ? "up to " + Version(in.maxMajor, in.maxMinor) : "any";
}

std::string ProcessorText(std::uint32_t processor) {
    if (processor == 0) return "any";
    return processor == kCeProcessorArm ? "ARM (2577)" : "processor " + std::to_string(processor);
}

std::string KeyText(const CeInstall& in, std::uint16_t id) {
    for (const CeRegKey& k : in.keys)
        if (k.id == id) return CeRootName(k.root) + "\\" + JoinCePath(k.path);
    return "(key " + std::to_string(id) + ")";
}

std::string ValueTypeName(std::uint32_t type) {
    switch (type & ~kCeRegKeepExisting) {
        case kCeRegString: return "string";
        case kCeRegMultiString: return "multi-string";
        case kCeRegBinary: return "binary";
        case kCeRegDword: return "dword";
        default: return "type " + Hex(type);
    }
}

std::string LinkFolder(std::uint16_t base) { return base == 0 ? "%InstallDir%" : "%CE" + std::to_string(base) + "%"; }

std::string LinkTarget(const CeInstall& in, const CeLink& l) {
    std::vector<std::string> path;
    if (l.toFile) return FilePath(in, l.target, &path) ? JoinCePath(path) : "(file " + std::to_string(l.target) + ")";
    const CeDir* d = FindDir(in, l.target);
    return d != nullptr ? JoinCePath(d->path) : "(directory " + std::to_string(l.target) + ")";
}

std::string Indented(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out += (end > at ? "  " : "") + text.substr(at, end - at) + "\n";
        at = end + 1;
    }
    return out;
}

}  // namespace

std::string CabText(const CabReport& r) {
    const CeInstall& in = r.install;
    std::string t = r.file + ": installation cabinet for Windows CE, " + std::to_string(r.size) + " bytes, " +
                    Counted(r.files.size() + 1, "file") +
                    (r.compression.empty() ? " stored without compression" : " compressed with " + r.compression) + "\n\n";
    t += "Application: \"" + Printable(in.appName) + "\"\nProvider: \"" + Printable(in.provider) + "\" (the device lists \"" +
         Printable(in.provider + " " + in.appName) + "\")\n";
    t += "Windows CE versions: " + VersionsText(in) + "\nProcessor: " + ProcessorText(in.processor) + "\n";
    if (in.minBuild || in.maxBuild) t += "Builds: " + std::to_string(in.minBuild) + " to " + std::to_string(in.maxBuild) + "\n";
    if (!in.unsupported.empty()) {
        t += "Unsupported platforms:";
        for (const std::string& u : in.unsupported) t += " \"" + Printable(u) + "\"";
        t += "\n";
    }
    t += "Installation data: " + r.dataMember + "\n\nFiles (" + std::to_string(r.files.size()) + "):\n";
    for (const ShownCabFile& f : r.files) {
        t += "  " + f.member + "  " + Counted(f.size, "byte") + "  ";
        if (!f.installed) t += "not installed\n";
        else t += "-> " + Printable(f.destination) + (f.onDevice.empty() ? "" : " (" + Printable(f.onDevice) + ")") +
                  (f.flags ? ", " + CeFileFlagsText(f.flags) : "") + "\n";
    }
    t += "\nRegistry values (" + std::to_string(in.values.size()) + "):\n";
    for (const CeRegValue& v : in.values)
        t += "  " + Printable(KeyText(in, v.key)) + " " + (v.name.empty() ? "(default)" : "\"" + Printable(v.name) + "\"") + " = " +
             CeValueText(v) + (v.type & kCeRegKeepExisting ? ", kept where it exists" : "") +
             (v.substitute ? " (%InstallDir% and %CEn% replaced on install)" : "") + "\n";
    t += "\nShortcuts (" + std::to_string(in.links.size()) + "):\n";
    for (const CeLink& l : in.links) {
        std::vector<std::string> where = {LinkFolder(l.base)};
        where.insert(where.end(), l.path.begin(), l.path.end());
        std::string device = CeDevicePath(where, in.appName);
        t += "  " + Printable(JoinCePath(where)) + (device.empty() ? "" : " (" + Printable(device) + ")") + " -> " +
             Printable(LinkTarget(in, l)) + "\n";
    }
    for (const ShownCabProgram& p : r.programs) {
        t += "\nThe program " + Printable(p.destination) + " (" + p.member + "):\n";
        t += p.readable ? Indented(ShowText(p.report)) : "  not a PE image kelpack reads: " + p.problem + "\n";
    }
    return t;
}

std::string CabJson(const CabReport& r) {
    const CeInstall& in = r.install;
    auto num = [](std::int64_t v) { return std::to_string(v); };
    auto list = [](const std::vector<std::string>& items) {
        std::string j = "[";
        for (std::size_t i = 0; i < items.size(); ++i) j += (i ? ", " : "") + items[i];
        return j + "]";
    };
    std::vector<std::string> files, values, links, programs, warnings, unsupported;
    for (const ShownCabFile& f : r.files)
        files.push_back("{\"member\": " + JsonString(f.member) + ", \"size\": " + num(f.size) + ", \"modified\": " +
                        JsonString(f.modified) + ", \"installed\": " + (f.installed ? "true" : "false") + ", \"destination\": " +
                        JsonString(f.destination) + ", \"on_device\": " + JsonString(f.onDevice) + ", \"flags\": " + num(f.flags) +
                        ", \"flags_text\": " + JsonString(CeFileFlagsText(f.flags)) + "}");
    for (const CeRegValue& v : in.values)
        values.push_back("{\"key\": " + JsonString(KeyText(in, v.key)) + ", \"name\": " + JsonString(v.name) + ", \"type\": " +
                         JsonString(ValueTypeName(v.type)) + ", \"keep_existing\": " + (v.type & kCeRegKeepExisting ? "true" : "false") +
                         ", \"substitute\": " + (v.substitute ? "true" : "false") + ", \"value\": " + JsonString(CeValueText(v)) + "}");
    for (const CeLink& l : in.links)
        links.push_back("{\"folder\": " + JsonString(LinkFolder(l.base)) + ", \"name\": " + JsonString(JoinCePath(l.path)) +
                        ", \"target\": " + JsonString(LinkTarget(in, l)) + "}");
    for (const ShownCabProgram& p : r.programs) {
        std::string report = p.readable ? ShowJson(p.report) : "null";
        while (!report.empty() && report.back() == '\n') report.pop_back();
        programs.push_back("{\"destination\": " + JsonString(p.destination) + ", \"member\": " + JsonString(p.member) +
                           (p.readable ? "" : ", \"problem\": " + JsonString(p.problem)) + ", \"show\": " + report + "}");
    }
    for (const std::string& w : r.warnings) warnings.push_back(JsonString(w));
    for (const std::string& u : in.unsupported) unsupported.push_back(JsonString(u));
    return "{\n  \"file\": " + JsonString(r.file) + ",\n  \"kind\": \"cabinet\",\n  \"size\": " + num(static_cast<std::int64_t>(r.size)) +
           ",\n  \"compression\": " + JsonString(r.compression.empty() ? "none" : r.compression) +
           ",\n  \"installation_data\": " + JsonString(r.dataMember) + ",\n  \"app_name\": " + JsonString(in.appName) +
           ",\n  \"provider\": " + JsonString(in.provider) + ",\n  \"processor\": " + num(in.processor) +
           ",\n  \"min_version\": [" + num(in.minMajor) + ", " + num(in.minMinor) + "],\n  \"max_version\": [" + num(in.maxMajor) +
           ", " + num(in.maxMinor) + "],\n  \"builds\": [" + num(in.minBuild) + ", " + num(in.maxBuild) +
           "],\n  \"unsupported\": " + list(unsupported) + ",\n  \"files\": " + list(files) + ",\n  \"registry\": " + list(values) +
           ",\n  \"shortcuts\": " + list(links) + ",\n  \"warnings\": " + list(warnings) + ",\n  \"programs\": " + list(programs) +
           "\n}\n";
}

}  // namespace kelpack
