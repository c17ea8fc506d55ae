// The launcher copies the scenarios run: the pictures they are packed
// from, and each copy's options of `kelpack pack`, which run.sh hands the
// host kelpack; and the one copy made here, whose resources are garbage.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "harness.h"
#include "kelpack/pe.h"

namespace celoader {
namespace {

// A picture a copy is packed from, as a 24-bit BMP file: of `colours`
// colours (0: a gradient of many more than 256), so that kelpack writes it at
// 1, 4, 8 or 24 bits, the smallest file that holds it.
struct Picture {
    const char* file;
    int width;
    int height;
    int colours;
};

const Picture kPictures[] = {
    {"default.bmp", 150, 110, 0},  {"titled.bmp", 100, 80, 40},  {"one.bmp", 33, 17, 2},
    {"four.bmp", 61, 45, 16},      {"eight.bmp", 99, 71, 200},   {"large.bmp", 300, 260, 0},
    {"b.bmp", 150, 200, 2},        {"c.bmp", 230, 300, 16},      {"d.bmp", 300, 200, 200},
    {"e.bmp", 460, 600, 0},        {"full.bmp", 120, 90, 0},     {"icon.bmp", 40, 40, 0},
};

std::string PictureBytes(const Picture& p) {
    testsupport::BmpFile file;
    file.width = p.width;
    file.height = p.height;
    int colours = p.colours;
    if (colours == 0) {
        file.pixel = [](int x, int y) { return static_cast<uint32_t>((x * 7 & 0xFF) << 16 | (y * 5 & 0xFF) << 8 | ((x ^ y) & 0xFF)); };
    } else {
        // Distinct colours, in a pattern that shows a picture turned or mirrored.
        file.pixel = [colours](int x, int y) {
            uint32_t i = static_cast<uint32_t>(x + 3 * y + x * y / 7) % colours;
            return (i * 37 & 0xFF) << 16 | (255 - i) << 8 | (i * 11 & 0xFF);
        };
    }
    return testsupport::BmpBytes(file);
}

// The copies: each packed by kelpack from the device kel.exe with these options.
struct Copy {
    const char* file;
    std::vector<std::string> options;
};

const Copy kCopies[] = {
    {"line.exe", {"--command-line", "app.Main"}},
    {"line-tab.exe", {"--command-line", "app.Main\tx"}},
    // No CONFIG: the launcher's default one, whose first entry is Splash.bmp.
    {"splash-default.exe", {"--bitmap", "Splash.bmp=default.bmp"}},
    {"splash-titled.exe", {"--splash", "100x80:titled.bmp", "--title", "Caf\xC3\xA9"}},
    {"splash-1.exe", {"--splash", "33x17:one.bmp"}},
    {"splash-4.exe", {"--splash", "61x45:four.bmp"}},
    {"splash-8.exe", {"--splash", "99x71:eight.bmp"}},
    {"splash-large.exe", {"--splash", "300x260:large.bmp"}},
    // Each of the four screens chooses another entry: 240x240 the first,
    // 240x320 the second, 320x240 the third, 480x640 the last.
    {"splashes.exe",
     {"--splash", "150x200:b.bmp", "--splash", "230x300:c.bmp", "--splash", "300x200:d.bmp", "--splash",
      "460x600:e.bmp", "--title", "Several splashes"}},
    {"full.exe", {"--command-line", "app.Main", "--splash", "120x90:full.bmp", "--title", "Full", "--icon", "icon.bmp"}},
    {"no-line.exe", {"--splash", "120x90:full.bmp", "--title", "No line"}},
};

// A copy whose resource section holds garbage, made here from full.exe.
}  // namespace

const char kGarbled[] = "garbled.exe";


bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

int PrintCopies(const std::string& dir) {
    for (const Picture& p : kPictures) {
        if (!WriteFile(dir + "/" + p.file, PictureBytes(p))) {
            std::fprintf(stderr, "celoader: %s/%s cannot be written\n", dir.c_str(), p.file);
            return 2;
        }
    }
    for (const Copy& c : kCopies) {
        std::string line = c.file;
        for (const std::string& option : c.options) line += "\x1f" + option;
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

// Overwrites full.exe's resource section, every byte of it, with a
// pseudo-random sequence: the tree's counts and offsets become garbage.
bool MakeGarbled(const std::string& copies, std::string* error) {
    std::ifstream in(copies + "/full.exe", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    kelpack::PeImage pe;
    if (!kelpack::ParsePe(bytes, &pe, error)) return false;
    if (pe.dirs.size() <= kelpack::kDirResource || pe.dirs[kelpack::kDirResource].address == 0) {
        *error = "full.exe has no resources";
        return false;
    }
    int section = kelpack::SectionOfRva(pe, pe.dirs[kelpack::kDirResource].address);
    uint32_t state = 0x2545F491;
    for (uint32_t i = 0; i < pe.sections[section].rawSize; ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        bytes[pe.sections[section].rawOffset + i] = static_cast<uint8_t>(state);
    }
    if (!WriteFile(copies + "/" + kGarbled, std::string(bytes.begin(), bytes.end()))) {
        *error = "garbled.exe cannot be written";
        return false;
    }
    return true;
}

}  // namespace celoader
