#include "image_limits.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "contract/kel.h"
#include "copy_contents.h"

namespace kelpack {

namespace {


std::string SubsystemName(std::uint16_t subsystem) {
    switch (subsystem) {
        case 0: return "unknown (0)";
        case 1: return "native (1)";
        case 3: return "console (3)";
        case 5: return "OS/2 console (5)";
        case 7: return "POSIX console (7)";
        case 10: return "EFI application (10)";
        case 11: return "EFI boot service driver (11)";
        case 12: return "EFI runtime driver (12)";
        case 13: return "EFI ROM (13)";
        case 14: return "Xbox (14)";
        case 16: return "Windows boot application (16)";
        default: return "subsystem " + std::to_string(subsystem);
    }
}

// True when the image's bytes outside its resource section hold `text` as
// UTF-16: the launcher looks its resources up by name, so its code carries
// the names; a packed copy also carries them as resource names, which are
// left out.
bool CodeNames(const PeImage& image, const std::u16string& text) {
    std::vector<std::uint8_t> pattern;
    for (char16_t c : text) {
        pattern.push_back(static_cast<std::uint8_t>(c));
        pattern.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    std::uint64_t skipFrom = 0, skipTo = 0;
    if (image.dirs.size() > kDirResource && image.dirs[kDirResource].address != 0) {
        int i = SectionOfRva(image, image.dirs[kDirResource].address);
        if (i >= 0) {
            skipFrom = image.sections[i].rawOffset;
            skipTo = skipFrom + image.sections[i].rawSize;
        }
    }
    const PeBytes& b = image.bytes;
    std::boyer_moore_horspool_searcher<std::vector<std::uint8_t>::const_iterator> searcher(pattern.begin(), pattern.end());
    // A piece at a time, each reaching into the next by all but a byte of
    // the text, so that the copy's application package is never held.
    constexpr std::uint64_t kPiece = 1 << 20;
    auto found = [&](std::uint64_t from, std::uint64_t to) {
        to = std::min<std::uint64_t>(to, b.size());
        std::vector<std::uint8_t> piece;
        for (std::uint64_t at = from; at < to && to - at >= pattern.size(); at += kPiece) {
            piece.clear();
            if (!b.Append(at, std::min<std::uint64_t>(to - at, kPiece + pattern.size() - 1), &piece)) return false;
            if (std::search(piece.cbegin(), piece.cend(), searcher) != piece.cend()) return true;
        }
        return false;
    };
    return found(0, skipFrom) || found(skipTo, b.size());
}

}  // namespace

std::string MibText(std::uint64_t bytes) {
    char mib[32];
    std::snprintf(mib, sizeof mib, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return std::string(mib) + " (" + std::to_string(bytes) + " bytes)";
}

std::string ImageSizeWarning(std::uint64_t bytes) {
    if (bytes <= kDeviceWarnBytes) return std::string();
    std::string why = "a Windows CE 4.20 process lives in a 32 MB slot of the address space that holds its image, its "
                      "heap and its stacks";
    if (bytes > kDeviceSlotBytes)
        return "the image needs " + MibText(bytes) + " of address space, more than the whole slot: " + why +
               ", so a device will not start it (desktop Windows will)";
    return "the image needs " + MibText(bytes) + " of address space, more than 16 MiB: " + why +
           ", so the application is left little room and may not start on a device";
}

std::string ImageSizeRefusal(std::uint64_t bytes) {
    return "the image would need " + MibText(bytes) +
           " of address space, more than the 32 MiB slot a Windows CE 4.20 process has for its image, its heap and its "
           "stacks, so no device could start it. Make the application package smaller, or give --allow-large for a copy "
           "meant for desktop Windows only";
}

bool IsLauncherMachine(std::uint16_t machine) {
    return machine == kMachineX64 || machine == kMachineX86 || machine == kMachineArm;
}

std::vector<std::string> LauncherWarnings(const PeImage& image) {
    std::vector<std::string> w;
    if (image.characteristics & kFileDll)
        w.push_back("it is a DLL, not a program (its headers set IMAGE_FILE_DLL): nothing starts it as a launcher");
    if (image.subsystem != kSubsystemWindowsGui && image.subsystem != kSubsystemWindowsCeGui)
        w.push_back("its subsystem is " + SubsystemName(image.subsystem) +
                    "; the launcher is a Windows GUI program (subsystem 2, or 9 on Windows CE)");
    if (!CodeNames(image, kel::kCommandLineResourceName))
        w.push_back("its code never names the " + ContractName(kel::kCommandLineResourceName) +
                    " resource (the UTF-16 text is nowhere outside its resources), so it does not read the command line "
                    "packed into it: it is not a Kel launcher");
    if (!IsLauncherMachine(image.machine))
        w.push_back("it is built for " + MachineName(image.machine) +
                    ", a machine the launcher is not built for (x64, x86 and ARM)");
    return w;
}

}  // namespace kelpack
