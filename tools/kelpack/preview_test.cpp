// `kelpack preview`: the picture of a screen with the splash window on it,
// and the command's PNG files, arguments and exit codes.
#include "preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <stb_image.h>

#include "cli.h"
#include "fileio.h"

#include "bmp_builder.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

std::uint32_t At(const Picture& image, int x, int y) {
    std::size_t i = (static_cast<std::size_t>(y) * image.width + x) * 3;
    return (static_cast<std::uint32_t>(image.rgb[i]) << 16) | (image.rgb[i + 1] << 8) | image.rgb[i + 2];
}

// How many pixels of the screen differ from: the file's colour at (x - left,
// y - top) inside the window, the background outside it. `colour` gives the
// colour the file was drawn with, from the builder rather than the decoder.
int Mismatches(const Picture& image, int left, int top, int w, int h, const std::function<std::uint32_t(int, int)>& colour) {
    int wrong = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            bool inside = x >= left && x < left + w && y >= top && y < top + h;
            wrong += At(image, x, y) != (inside ? colour(x - left, y - top) : kPreviewBackground);
        }
    return wrong;
}

TEST(DrawSplashScreen, PlacesTheWindowAndCutsItAtTheScreen) {
    struct Case { int screenW, screenH, w, h; std::uint16_t bits; int x, y; };
    const Case cases[] = {
        {24, 32, 10, 6, 24, 7, 13},
        {24, 32, 24, 32, 8, 0, 0},
        {24, 32, 31, 7, 4, -3, 12},    // wider: -7 / 2 truncates to -3
        {24, 32, 30, 41, 1, -3, -4},   // larger both ways
        {5, 3, 9, 9, 24, -2, -3},
    };
    for (const Case& c : cases) {
        testsupport::BmpFile file = testsupport::PatternBmp(c.w, c.h, c.bits);
        std::vector<std::uint8_t> bytes = Bytes(testsupport::BmpBytes(file));
        Picture image;
        splash::SplashPlacement window{-99, -99, -99, -99};
        ASSERT_TRUE(DrawSplashScreen(c.screenW, c.screenH, &bytes, &image, &window));
        EXPECT_EQ(window.x, c.x);
        EXPECT_EQ(window.y, c.y);
        ASSERT_EQ(image.width, c.screenW);
        ASSERT_EQ(image.rgb.size(), static_cast<std::size_t>(c.screenW * c.screenH * 3));
        auto colour = [&](int x, int y) {
            std::uint32_t v = file.pixel(x, y);
            return c.bits == 24 ? v & 0xFFFFFF : testsupport::Colour(file.palette[v]);
        };
        EXPECT_EQ(Mismatches(image, c.x, c.y, c.w, c.h, colour), 0) << c.w << "x" << c.h << " " << c.bits << "-bit";
    }
}

TEST(DrawSplashScreen, RowsAShortFileLacksShowAsZeroBytes) {
    // Two of five rows present: the bottom two. The rest read as index 0, or black.
    for (std::uint16_t bits : {8, 24}) {
        testsupport::BmpFile file = testsupport::PatternBmp(4, 5, bits);
        file.rowsWritten = 2;
        std::vector<std::uint8_t> bytes = Bytes(testsupport::BmpBytes(file));
        Picture image;
        splash::SplashPlacement window;
        ASSERT_TRUE(DrawSplashScreen(4, 5, &bytes, &image, &window));
        std::uint32_t blank = bits == 24 ? 0u : testsupport::Colour(file.palette[0]);
        auto colour = [&](int x, int y) {
            if (y < 3) return blank;
            std::uint32_t v = file.pixel(x, y);
            return bits == 24 ? v & 0xFFFFFF : testsupport::Colour(file.palette[v]);
        };
        EXPECT_EQ(Mismatches(image, 0, 0, 4, 5, colour), 0) << bits;
    }
}

TEST(DrawSplashScreen, NoDecodableBitmapLeavesTheBareScreen) {
    testsupport::BmpFile sixteen = testsupport::PatternBmp(4, 4, 24);
    sixteen.bitCount = 16;
    std::vector<std::uint8_t> rejected = Bytes(testsupport::BmpBytes(sixteen));
    const std::vector<std::uint8_t>* bitmaps[] = {nullptr, &rejected};
    for (const std::vector<std::uint8_t>* bitmap : bitmaps) {
        Picture image;
        splash::SplashPlacement window{1, 2, 3, 4};
        EXPECT_FALSE(DrawSplashScreen(7, 9, bitmap, &image, &window));
        EXPECT_EQ(window.width, 0);
        EXPECT_EQ(Mismatches(image, 0, 0, 0, 0, nullptr), 0);
    }
}

class PreviewCommand : public testsupport::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        fs::create_directories(dir_ / "out");
        Put("kel.exe", testsupport::MakeImage(testsupport::PlainLayout()));
        Put("small.bmp", testsupport::PatternBmpBytes(30, 20));
        Put("big.bmp", testsupport::PatternBmpBytes(300, 400, 8));
        ASSERT_EQ(Run({"pack", Path("kel.exe"), "-o", Path("game.exe"), "--splash", "240x320:" + Path("small.bmp"),
                       "--splash", "480x640:" + Path("big.bmp")}), 0) << err_;
    }
    int Run(const std::vector<std::string>& args) {
        out_.clear();
        err_.clear();
        return RunCli(args, &out_, &err_);
    }
    std::vector<std::string> Written() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / "out")) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string out_, err_;
};

TEST_F(PreviewCommand, WritesOnePictureForEachScreenAndSaysWhatItShows) {
    ASSERT_EQ(Run({"preview", Path("game.exe"), "--screen", "480x640", "--screen=200x100", "-o", Path("out")}), 0) << err_;
    // The copy is not marked ready for high resolution: a second 480x640 picture shows what such a device shows.
    EXPECT_EQ(Written(), (std::vector<std::string>{"preview-200x100.png", "preview-480x640-doubled.png", "preview-480x640.png"}));
    for (const char* says : {"preview-480x640.png  480x640 screen: \"big.bmp\" (entry 480x640): decodes, 300x400 8-bit; the window at 90,120\n",
                             "preview-200x100.png  200x100 screen: \"small.bmp\" (entry 240x320): decodes, 30x20 24-bit; the window at 85,40\n",
                             "Wrote 3 files."})
        EXPECT_NE(out_.find(says), std::string::npos) << says << "\n" << out_;

    std::vector<std::uint8_t> png;
    std::string error;
    ASSERT_TRUE(ReadFile(Path("out/preview-200x100.png"), &png, &error)) << error;
    // The file holds the picture: grey around the window, the bitmap's top-left pixel at the window's.
    int w = 0, h = 0, channels = 0;
    stbi_uc* back = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 3);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 100);
    auto pixel = [&](int x, int y) {
        const stbi_uc* p = back + (y * w + x) * 3;
        return (static_cast<std::uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
    };
    EXPECT_EQ(pixel(84, 40), kPreviewBackground);
    // The file keeps the low 24 bits of the builder's colours.
    EXPECT_EQ(pixel(85, 40), testsupport::PatternBmp(30, 20, 24).pixel(0, 0) & 0xFFFFFF);
    EXPECT_EQ(pixel(114, 59), testsupport::PatternBmp(30, 20, 24).pixel(29, 19) & 0xFFFFFF);
    stbi_image_free(back);

    // Without --screen: the screens show lists; the plain launcher shows none of its default bitmaps.
    ASSERT_EQ(Run({"preview", Path("kel.exe"), "--output-dir", Path("out") + "/"}), 0) << err_;
    std::vector<std::string> written = Written();
    EXPECT_EQ(written.size(), 12u);  // 200x100, the seven common screens, and the four doubled by a high-resolution device
    for (const ScreenSize& screen : kCommonScreens)
        EXPECT_NE(std::find(written.begin(), written.end(), PreviewFileName(screen.width, screen.height)), written.end());
    EXPECT_NE(out_.find("no bitmap the configuration offers is packed, so the screen size is not asked; the bare screen"), std::string::npos) << out_;
}

TEST_F(PreviewCommand, BadArgumentsAndFilesEndWithTheirExitCodes) {
    std::vector<std::uint8_t> exe;
    std::string error;
    ASSERT_TRUE(ReadFile(Path("game.exe"), &exe, &error));
    Put("cut.exe", std::vector<std::uint8_t>(exe.begin(), exe.end() - 100));
    struct Case { std::vector<std::string> args; int code; const char* says; };
    const std::vector<Case> cases = {
        {{}, 1, "no executable given"},
        {{"@game.exe", "@kel.exe"}, 1, "give one executable"},
        {{"@game.exe", "--screen"}, 1, "--screen needs a value"},
        {{"@game.exe", "--screen", "240"}, 1, "--screen \"240\": give WIDTHxHEIGHT"},
        {{"@game.exe", "--screen", "0x5"}, 1, "each 1 to 4096"},
        {{"@game.exe", "--screen", "4097x10"}, 1, "each 1 to 4096"},
        {{"@game.exe", "--screen", "10x10", "--screen", "10x10"}, 1, "--screen 10x10 is given twice"},
        {{"@game.exe", "-o", "@out", "-o", "@out"}, 1, "--output-dir is given twice"},
        {{"@game.exe", "--json"}, 1, "unknown option --json"},
        {{"@missing.exe"}, 2, "missing.exe: cannot read"},
        {{"@cut.exe"}, 3, "cut.exe: truncated"},
        {{"@game.exe", "-o", "@game.exe/sub"}, 5, "cannot create the folder"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"preview"};
        if (std::find(c.args.begin(), c.args.end(), "-o") == c.args.end()) args.insert(args.end(), {"-o", Path("out")});
        for (const std::string& a : c.args) args.push_back(a[0] == '@' ? Path(a.substr(1)) : a);
        EXPECT_EQ(Run(args), c.code) << c.says << "\n" << err_;
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
        EXPECT_EQ(out_, "");
    }
    EXPECT_EQ(Written(), std::vector<std::string>{});
}

TEST_F(PreviewCommand, TheFolderIsMadeWithItsParents) {
    ASSERT_EQ(Run({"preview", Path("game.exe"), "--screen", "240x320", "-o", Path("new/deeper")}), 0) << err_;
    EXPECT_TRUE(fs::is_regular_file(dir_ / "new" / "deeper" / "preview-240x320.png"));
}

#if !defined(_WIN32)
TEST_F(PreviewCommand, AFailedWriteLeavesEveryOlderPictureAsItWas) {
    // In a child that may write no file past 1 KiB: the small first picture
    // is written, the second is not.
    Put("out/preview-10x10.png", Bytes("an older picture"));
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {1024, 1024};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0 || std::freopen(Path("err.txt").c_str(), "w", stderr) == nullptr) ::_exit(99);
        std::string out, err;
        int code = RunCli({"preview", Path("game.exe"), "--screen", "10x10", "--screen", "480x640", "-o", Path("out")}, &out, &err);
        std::fputs(err.c_str(), stderr);
        std::fflush(stderr);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::vector<std::uint8_t> said = Get("err.txt");
    std::string err(said.begin(), said.end());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 5) << err;
    EXPECT_NE(err.find("preview-480x640.png.kelpack-tmp-"), std::string::npos) << err;
    EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    EXPECT_EQ(Get("out/preview-10x10.png"), Bytes("an older picture"));
    EXPECT_EQ(Written(), std::vector<std::string>{"preview-10x10.png"});
}
#endif

TEST_F(PreviewCommand, HelpNamesTheCommand) {
    ASSERT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out_.find("kelpack preview COPY [--screen WxH]... [-o DIR]"), std::string::npos);
    ASSERT_EQ(Run({"help", "preview"}), 0);
    EXPECT_NE(out_.find("240x320, 320x240, 240x240, 480x640, 640x480, 480x480 and 800x480"), std::string::npos) << out_;
}

}  // namespace
}  // namespace kelpack
