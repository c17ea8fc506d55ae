// The tool as a user runs it: files in a scratch folder, `kelpack pack` and
// `kelpack show`, exit codes and messages.
#include "cli.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <regex>

#include <stb_image_write.h>

#include "bitmap_check.h"
#include "byteio.h"
#include "copy_contents.h"
#include "fileio.h"
#include "picture.h"
#include "pe.h"
#include "shown_text.h"
#include "text/utf8_strings.h"

#include "bmp_builder.h"
#include "image_samples.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

using testsupport::PatternBmpBytes;

std::vector<std::uint8_t> OneImageIco() {
    std::vector<std::uint8_t> b = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
    AppendU32(&b, 48);
    AppendU32(&b, 22);
    std::vector<std::uint8_t> dib(48, 0x77);
    PutU32(&dib, 0, 40);
    b.insert(b.end(), dib.begin(), dib.end());
    return b;
}

class Kelpack : public testsupport::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        Put("kel.exe", testsupport::MakeImage(testsupport::LauncherLayout()));
        Put("s240.bmp", PatternBmpBytes(240, 320));
        Put("s480.bmp", PatternBmpBytes(480, 640, 8));
        Put("app.ico", OneImageIco());
        Put("game.kel", {'K', 'E', 'L', 0, 1, 2});
    }
    // Runs kelpack; "@" in an argument stands for the scratch folder.
    int Run(std::vector<std::string> args) {
        out_.clear();
        err_.clear();
        for (std::string& a : args) {
            for (std::size_t at = a.find('@'); at != std::string::npos; at = a.find('@', at)) {
                std::string folder = dir_.string() + "/";
                a.replace(at, 1, folder);
                at += folder.size();
            }
        }
        return RunCli(args, &out_, &err_);
    }
    ResourceList ResourcesOf(const std::string& name) { return testsupport::ResourcesOfImage(Get(name)); }
    std::string TextOf(const ResourceList& list, const char* name) {
        const Resource* r = FindResource(list, TextType(), ResNameUpper(name));
        return r ? std::string(r->data.begin(), r->data.end()) : std::string("<none>");
    }
    bool Exists(const std::string& name) { return fs::exists(Path(name)); }

    std::string out_, err_;
};

TEST_F(Kelpack, PackWritesEveryResourceTheLauncherReads) {
    std::vector<std::uint8_t> input = Get("kel.exe");
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--app", "@game.kel", "--command-line", "game.Main -v",
                   "--splash", "240x320:@s240.bmp", "--splash", "480x640:@s480.bmp:Big.bmp", "--title", "My Game", "--icon", "@app.ico"}),
              0) << err_;
    // Both bitmaps are at their smallest exact depth already: notes, no warning.
    EXPECT_EQ(err_.find("warning"), std::string::npos) << err_;
    EXPECT_NE(err_.find("s240.bmp: 240x320, packed as it is: 24-bit already gives the smallest file"), std::string::npos) << err_;
    EXPECT_NE(out_.find("wrote"), std::string::npos);
    EXPECT_EQ(Get("kel.exe"), input);
    EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
    ResourceList list = ResourcesOf("out.exe");
    EXPECT_EQ(FindResource(list, AppType(), AppName())->data, Get("game.kel"));
    EXPECT_EQ(TextOf(list, "CommandLine"), "game.Main -v");
    EXPECT_EQ(TextOf(list, "CONFIG"), "SplashScreen=240x320;s240.bmp|SplashScreen=480x640;Big.bmp|SplashScreenTitle=My Game");
    EXPECT_EQ(FindResource(list, SplashType(), ResNameUpper("S240.BMP"))->data, Get("s240.bmp"));
    EXPECT_EQ(FindResource(list, SplashType(), ResNameUpper("BIG.BMP"))->data, Get("s480.bmp"));
    ASSERT_NE(FindResource(list, IntResId(kRtGroupIcon), IntResId(50)), nullptr);
    EXPECT_NE(FindResource(list, IntResId(kRtIcon), IntResId(1)), nullptr);
    // Types and names are stored upper-cased.
    for (const Resource& r : list) {
        for (const ResId* id : {&r.type, &r.name})
            if (id->isName) {
                EXPECT_EQ(id->name, ResNameUpper(text::WideToUtf8(id->name)).name);
            }
    }
}

TEST_F(Kelpack, RepackingReplacesNamedEntriesAndKeepsTheRest) {
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@other.exe", "--app", "@game.kel", "--command-line", "one", "--icon", "@app.ico"}), 0) << err_;
    ASSERT_EQ(Run({"pack", "@other.exe", "-o", "@out.exe", "--command-line", "two", "--icon", "@app.ico"}), 0) << err_;
    ResourceList list = ResourcesOf("out.exe");
    EXPECT_EQ(TextOf(list, "CommandLine"), "two");
    EXPECT_NE(FindResource(list, AppType(), AppName()), nullptr);
    int icons = 0;
    for (const Resource& r : list) icons += ResIdMatches(r.type, IntResId(kRtIcon)) ? 1 : 0;
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(list.size(), 4u);
}

TEST_F(Kelpack, TitleAloneEditsTheCarriedConfiguration) {
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@other.exe", "--splash", "@s240.bmp", "--title", "Old"}), 0) << err_;
    EXPECT_EQ(TextOf(ResourcesOf("other.exe"), "CONFIG"), "SplashScreen=240x320;s240.bmp|SplashScreenTitle=Old");
    ASSERT_EQ(Run({"pack", "@other.exe", "-o", "@out.exe", "--title", "New"}), 0) << err_;
    EXPECT_EQ(TextOf(ResourcesOf("out.exe"), "CONFIG"), "SplashScreen=240x320;s240.bmp|SplashScreenTitle=New");
}

TEST_F(Kelpack, AnEntryNoScreenReachesIsWarnedAbout) {
    // --splash entries are put in an order every screen is served by; a
    // --config file is kept as given.
    std::string cfg = "SplashScreen=480x640;s480.bmp|SplashScreen=240x320;s240.bmp";
    Put("cfg.txt", std::vector<std::uint8_t>(cfg.begin(), cfg.end()));
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--config", "@cfg.txt"}), 0) << err_;
    EXPECT_NE(err_.find("warning: --config " + Path("cfg.txt") + ": the entry 240x320;s240.bmp is chosen on no screen"),
              std::string::npos) << err_;
}

TEST_F(Kelpack, SplashEntriesAreOrderedSoThatEachScreenGetsTheLargestThatFits) {
    // Given largest first, every 240x320 and 320x240 device would show the
    // 480x640 bitmap cut off; pack writes the smaller first and says so.
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "480x640:@s480.bmp", "--splash", "240x320:@s240.bmp"}), 0)
        << err_;
    EXPECT_EQ(TextOf(ResourcesOf("out.exe"), "CONFIG"), "SplashScreen=240x320;s240.bmp|SplashScreen=480x640;s480.bmp");
    EXPECT_NE(err_.find("note: --splash: the entries are written smallest first (240x320;s240.bmp, 480x640;s480.bmp), not "
                        "as given, so that each screen gets the largest one that fits it"),
              std::string::npos) << err_;
    EXPECT_EQ(err_.find("warning"), std::string::npos) << err_;
    // In an order that serves every screen already: kept, nothing said.
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "240x320:@s240.bmp", "--splash", "480x640:@s480.bmp"}), 0)
        << err_;
    EXPECT_EQ(err_.find("written smallest first"), std::string::npos) << err_;
    // Two entries of one size: no order shows the second.
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "240x320:@s240.bmp", "--splash", "240x320:@s480.bmp"}), 0)
        << err_;
    EXPECT_NE(err_.find("warning: --splash: the entry 240x320;s480.bmp is chosen on no screen: an earlier entry has its size"),
              std::string::npos) << err_;

    // A --config file is kept as given, and what it does to each screen told.
    std::string cfg = "SplashScreen=300x400;s480.bmp|SplashScreen=200x150;s240.bmp|SplashScreen=200x150;again.bmp";
    Put("cfg.txt", std::vector<std::uint8_t>(cfg.begin(), cfg.end()));
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--config", "@cfg.txt", "--bitmap", "again.bmp=@s240.bmp"}), 0) << err_;
    EXPECT_EQ(TextOf(ResourcesOf("out.exe"), "CONFIG"), cfg);
    EXPECT_NE(err_.find("warning: --config " + Path("cfg.txt") + ": on 240x320, 320x240 and 240x240 screens the launcher "
                        "shows the entry 300x400;s480.bmp, larger than the screen, though the entry 200x150;s240.bmp fits "
                        "and is packed"),
              std::string::npos) << err_;
    EXPECT_NE(err_.find("the entry 200x150;again.bmp is chosen on no screen"), std::string::npos) << err_;
}

TEST_F(Kelpack, ConfigFileTakesBitmapsFromOptionsOrBesideIt) {
    Put("cfg.txt", {});
    std::string cfg = "SplashScreen=240x320;s240.bmp|SplashScreen=400x400;Wide.bmp|SplashScreenTitle=T\n";
    Put("cfg.txt", std::vector<std::uint8_t>(cfg.begin(), cfg.end()));
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--config", "@cfg.txt", "--bitmap", "Wide.bmp=@s480.bmp"}), 0) << err_;
    // The bitmap is 480x640, the entry says 400x400.
    EXPECT_NE(err_.find("says 400x400 but the bitmap is 480x640"), std::string::npos) << err_;
    ResourceList list = ResourcesOf("out.exe");
    EXPECT_EQ(TextOf(list, "CONFIG"), cfg.substr(0, cfg.size() - 1));
    EXPECT_EQ(FindResource(list, SplashType(), ResNameUpper("s240.bmp"))->data, Get("s240.bmp"));
    EXPECT_EQ(FindResource(list, SplashType(), ResNameUpper("WIDE.BMP"))->data, Get("s480.bmp"));

    // A name neither given nor beside the file stops the run.
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@other.exe", "--config", "@cfg.txt"}), 4);
    EXPECT_NE(err_.find("\"Wide.bmp\", which is not packed (give it with --bitmap Wide.bmp=FILE)"), std::string::npos) << err_;
    EXPECT_FALSE(Exists("other.exe"));
}

TEST_F(Kelpack, RejectedInputsWriteNothingAndSayWhy) {
    // Top-down bitmaps are packed now; a file cut inside its header is not.
    std::vector<std::uint8_t> cut = PatternBmpBytes(10, 10);
    cut.resize(20);
    Put("bad.bmp", cut);
    struct Case { std::vector<std::string> args; int code; const char* says; };
    std::vector<Case> cases = {
        {{"--splash", "@bad.bmp"}, 4, "bad.bmp: cannot be packed as a splash picture: it ends inside its 40-byte information header"},
        {{"--splash", "@game.kel"}, 4, "game.kel: cannot be packed as a splash picture: it is not an image kelpack reads"},
        {{"--bitmap", "X=@bad.bmp"}, 4, "bad.bmp: cannot be packed"},
        {{"--command-line", "a\nb"}, 4, "--command-line: the command line has a line feed (LF) at byte 2"},
        {{"--icon", "@game.kel"}, 4, "game.kel: it is neither an icon file nor a picture kelpack reads"},
        {{"--app", "@missing.kel"}, 2, "missing.kel: cannot read"},
        {{"--splash", "@s240.bmp", "--splash", "@s480.bmp:S240.BMP"}, 4, "given twice"},
        {{"--title", "a|b"}, 4, "--title: the title has a \"|\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pack", "@kel.exe", "-o", "@out.exe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Run(args), c.code) << c.says << "\n" << err_;
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
        EXPECT_NE(err_.find("nothing was written"), std::string::npos);
        EXPECT_FALSE(Exists("out.exe"));
    }
}

// A 40x20 PNG of three colours; the pixel at (1, 1) is transparent.
std::vector<std::uint8_t> ArtPng() {
    std::vector<std::uint8_t> px;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            std::uint8_t v = static_cast<std::uint8_t>(x < 20 ? 250 : y < 10 ? 120 : 5);
            px.insert(px.end(), {v, static_cast<std::uint8_t>(255 - v), 60, static_cast<std::uint8_t>(x == 1 && y == 1 ? 0 : 255)});
        }
    std::vector<std::uint8_t> out;
    stbi_write_png_to_func([](void* ctx, void* data, int size) {
        auto* o = static_cast<std::vector<std::uint8_t>*>(ctx);
        o->insert(o->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    }, &out, 40, 20, 4, px.data(), 0);
    return out;
}

TEST_F(Kelpack, PicturesArePackedAtTheSmallestExactDepthAndFittedOnRequest) {
    Put("art.png", ArtPng());
    std::string cfg = "SplashScreen=10x10;A|SplashScreen=30x5;A";
    Put("cfg.txt", std::vector<std::uint8_t>(cfg.begin(), cfg.end()));
    struct Case {
        std::vector<std::string> args;
        std::int32_t width, height;   // of the packed bitmap
        std::uint16_t bits;
        const char* note;             // on standard error; "" for none
        const char* absent;           // must not be on standard error
    };
    std::vector<Case> cases = {
        // Four colours with the background: 4 bits, 54 + 16 + 20 x 20 bytes, against 54 + 120 x 20.
        {{"--splash", "240x320:@art.png:A"}, 40, 20, 4,
         "art.png: 40x20, written as 4-bit with a 4-colour palette, 470 bytes (1984 fewer than 24-bit); transparent pixels laid over FFFFFF",
         "scaled"},
        {{"--splash", "20x20:@art.png:A"}, 40, 20, 4, "says 20x20 but the bitmap is 40x20", "scaled"},
        {{"--splash", "20x20:@art.png:A", "--fit"}, 20, 10, 0, "art.png: 40x20 scaled to fit 20x20: 20x10, written as", "warning"},
        // Every entry that names it: within 10x10 and 30x5.
        {{"--config", "@cfg.txt", "--bitmap", "A=@art.png", "--fit"}, 10, 5, 0, "40x20 scaled to fit 10x5: 10x5", "warning"},
        {{"--splash", "@art.png:A", "--fit"}, 40, 20, 4, "art.png: 40x20, written as 4-bit", "scaled to fit"},
        {{"--splash", "@art.png:A", "--background", "102030"}, 40, 20, 4, "laid over 102030", "warning"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pack", "@kel.exe", "-o", "@out.exe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(Run(args), 0) << err_;
        EXPECT_NE(err_.find(c.note), std::string::npos) << c.note << "\n" << err_;
        EXPECT_EQ(err_.find(c.absent), std::string::npos) << c.absent << "\n" << err_;
        ResourceList list = ResourcesOf("out.exe");
        const Resource* r = FindResource(list, SplashType(), ResNameUpper("A"));
        ASSERT_NE(r, nullptr);
        BmpInfo info;
        std::string why;
        ASSERT_TRUE(CheckBitmap(r->data, &info, &why)) << why;
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        if (c.bits) {
            EXPECT_EQ(info.bitCount, c.bits);
        }
    }
    // The transparent pixel took the background; the launcher shows it so.
    ResourceList list = ResourcesOf("out.exe");
    const Resource* r = FindResource(list, SplashType(), ResNameUpper("A"));
    Picture shown;
    std::string why;
    ASSERT_TRUE(LauncherPixels(r->data, &shown, &why)) << why;
    std::size_t at = (1 * 40 + 1) * 3;
    EXPECT_EQ((std::vector<std::uint8_t>(shown.rgb.begin() + at, shown.rgb.begin() + at + 6)),
              (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 250, 5, 60}));
}

// A PNG of w x h from RGBA pixels, rows top first.
std::vector<std::uint8_t> PngOf(int w, int h, const std::vector<std::uint8_t>& rgba) {
    std::vector<std::uint8_t> out;
    stbi_write_png_to_func([](void* ctx, void* data, int size) {
        auto* o = static_cast<std::vector<std::uint8_t>*>(ctx);
        o->insert(o->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    }, &out, w, h, 4, rgba.data(), 0);
    return out;
}

// w x h of `colours` distinct colours, scattered so that scaling blends them.
std::vector<std::uint8_t> ScatteredPng(int w, int h, int colours) {
    std::vector<std::uint8_t> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int c = (x * 7 + y * 13 + (x * y) % 5) % colours;
            px.insert(px.end(), {static_cast<std::uint8_t>(c * 23), static_cast<std::uint8_t>(255 - c * 19), static_cast<std::uint8_t>(c * 61 % 256), 255});
        }
    return PngOf(w, h, px);
}

TEST_F(Kelpack, MessagesSayWhatIsWrongAndWhatToDo) {
    const std::string webp = std::string("RIFF\x1a\0\0\0WEBPVP8L", 16);
    Put("x.webp", std::vector<std::uint8_t>(webp.begin(), webp.end()));
    std::vector<std::uint8_t> png = ScatteredPng(40, 40, 11);
    Put("bad.png", std::vector<std::uint8_t>(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)));
    Put("a:b.bmp", Get("s240.bmp"));
    std::vector<std::uint8_t> jpeg = testsupport::SolidJpeg();
    Put("noend.jpg", std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 2));
    Put("turned.jpg", testsupport::WithOrientation(testsupport::CornersJpeg(), 6, false));
    Put("logo.png", ScatteredPng(200, 200, 11));
    std::vector<std::uint8_t> sixtyFour;  // 8x8, each pixel a colour of its own
    for (int i = 0; i < 64; ++i) sixtyFour.insert(sixtyFour.end(), {static_cast<std::uint8_t>(4 * i), 9, 200, 255});
    Put("few.png", PngOf(8, 8, sixtyFour));
    // An icon file of a bitmap image and a PNG one of 256x256 (size 0 in its directory).
    std::vector<std::uint8_t> ico = {0, 0, 1, 0, 2, 0};
    std::vector<std::uint8_t> dib(48, 0x77), pngIcon = ScatteredPng(4, 4, 3);
    PutU32(&dib, 0, 40);
    for (const auto* image : {&dib, &pngIcon}) {
        ico.insert(ico.end(), {image == &dib ? std::uint8_t{16} : std::uint8_t{0}, image == &dib ? std::uint8_t{16} : std::uint8_t{0}, 0, 0, 1, 0, 32, 0});
        AppendU32(&ico, static_cast<std::uint32_t>(image->size()));
        AppendU32(&ico, image == &dib ? 38 : 38 + 48);
    }
    ico.insert(ico.end(), dib.begin(), dib.end());
    ico.insert(ico.end(), pngIcon.begin(), pngIcon.end());
    Put("pngs.ico", ico);

    struct Case { std::vector<std::string> args; int code; std::string says; };  // says: exactly once on stdout + stderr
    std::vector<Case> cases = {
        {{"--splash", "@x.webp"}, 4, "x.webp: cannot be packed as a splash picture: it is a WebP image: kelpack reads PNG, "
                                     "JPEG, GIF and BMP; convert it first, e.g. with ImageMagick: convert in.webp out.png"},
        {{"--splash", "240x320:@bad.png:A", "--splash", "480x640:@bad.png:B"}, 4,
         "bad.png: cannot be packed as a splash picture: the file ends early"},
        {{"--splash", "240X320:@s240.bmp"}, 0, "s240.bmp: 240x320, packed as it is"},
        {{"--splash", "-1x320:@s240.bmp"}, 1, "the size must be WIDTHxHEIGHT with each 1 to 65535"},
        {{"--splash", "240x320:@a:b.bmp"}, 0, "a:b.bmp: 240x320, packed as it is"},
        {{"--splash", "240x320:@s240.bmp", "--splash", "480x640:@s240.bmp"}, 4,
         "to offer one picture at several sizes, give each its own name: --splash 240x320:" + Path("s240.bmp") +
             ":s240-240x320.bmp --splash 480x640:" + Path("s240.bmp") + ":s240-480x640.bmp"},
        {{"--splash", "@noend.jpg"}, 0, "the file lacks the end-of-image marker a JPEG ends with, but every pixel is there"},
        {{"--splash", "@turned.jpg"}, 0, "turned.jpg: turned a quarter clockwise as its EXIF orientation 6 says, then 16x24, written as"},
        {{"--splash", "100x100:@logo.png", "--fit"}, 0,
         "logo.png: 200x200 scaled to fit 100x100: 100x100, written as 24-bit (scaling blended its 11 colours into more than 256"},
        {{"--splash", "@logo.png"}, 0, "logo.png: 200x200, written as 4-bit with an 11-colour palette"},
        {{"--splash", "@few.png"}, 0, "few.png: 8x8, written as 24-bit (its 64 colours would take 128 bytes more at 8 bits, "
                                      "for the palette), 246 bytes"},
        {{"--title", "a\tb"}, 4, "--title: the title has a tab at byte 2"},
        {{"--command-line", "x", "--background", "#336699"}, 0, "out.exe: 1 resource "},
        {{}, 0, "warning: nothing to pack: no --app, --command-line, --splash, --title, --config, --bitmap, --icon or "
                "--hi-res-aware is given"},
        {{"--splash", "@s240.bmp", "--fit"}, 0, "warning: --fit: no splash entry is given a size"},
        {{"--icon", "@pngs.ico"}, 0, "pngs.ico: icon image 2 (256x256, 32-bit) is PNG-compressed, which the device's shell cannot draw"},
        {{"--icon", "@x.webp"}, 4, "x.webp: it is neither an icon file nor a picture kelpack reads: it is a WebP image"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pack", "@kel.exe", "-o", "@out.exe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Run(args), c.code) << c.says << "\n" << err_;
        std::string all = out_ + err_, says = c.says;
        for (std::size_t at = says.find('@'); at != std::string::npos; at = says.find('@')) says.replace(at, 1, dir_.string() + "/");
        std::size_t first = all.find(says);
        EXPECT_NE(first, std::string::npos) << says << "\n" << all;
        EXPECT_EQ(all.find(says, first + 1), std::string::npos) << "said twice: " << says;
        std::error_code ec;
        fs::remove(Path("out.exe"), ec);
    }
}

// The colour and mask bit of pixel (x, y), from the top, of a 4-, 8- or
// 32-bit icon image as the shell reads it.
struct IconPixel {
    Rgb colour;
    std::uint8_t alpha;
    bool masked;
};
IconPixel IconPixelAt(const std::vector<std::uint8_t>& dib, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t side = GetU32(dib, 4), bits = GetU16(dib, 14), palette = bits <= 8 ? 4u << bits : 0;
    const std::uint32_t stride = (side * bits + 31) / 32 * 4, maskStride = (side + 31) / 32 * 4, row = side - 1 - y;
    const std::size_t at = 40 + palette + row * stride;
    IconPixel p{};
    if (bits == 32) {
        p.colour = Rgb{dib[at + 4 * x + 2], dib[at + 4 * x + 1], dib[at + 4 * x]};
        p.alpha = dib[at + 4 * x + 3];
    } else {
        std::uint32_t bit = x * bits, index = (dib[at + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        p.colour = Rgb{dib[40 + 4 * index + 2], dib[40 + 4 * index + 1], dib[40 + 4 * index]};
        p.alpha = 255;
    }
    p.masked = (dib[40 + palette + side * stride + row * maskStride + x / 8] >> (7 - x % 8)) & 1;
    return p;
}

TEST_F(Kelpack, AnIconGroupIsMadeFromAPicture) {
    // 20x10, opaque red: on each square it is centred, transparent above and below.
    std::vector<std::uint8_t> red;
    for (int i = 0; i < 200; ++i) red.insert(red.end(), {255, 0, 0, 255});
    Put("icon.png", PngOf(20, 10, red));
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--icon", "@icon.png"}), 0) << err_;
    EXPECT_NE(err_.find("icon.png: PNG 20x10 picture made into 9 icon images: 16x16, 32x32 and 48x48, each at 4, 8 and 32 "
                        "bits, centred on a transparent square\n"), std::string::npos) << err_;
    ResourceList list = ResourcesOf("out.exe");
    const Resource* group = FindResource(list, IntResId(kRtGroupIcon), IntResId(50));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(GetU16(group->data, 4), 9u);
    for (std::uint32_t i = 0; i < 9; ++i) {
        const std::size_t e = 6 + 14 * i;
        const std::uint32_t bits = std::vector<std::uint32_t>{4, 8, 32}[i % 3];
        const std::uint32_t want = std::vector<std::uint32_t>{16, 32, 48}[i / 3];
        EXPECT_EQ(group->data[e], want) << i;
        EXPECT_EQ(group->data[e + 2], bits == 4 ? 16 : 0) << i;
        EXPECT_EQ(GetU16(group->data, e + 6), bits) << i;
        const Resource* image = FindResource(list, IntResId(kRtIcon), IntResId(GetU16(group->data, e + 12)));
        ASSERT_NE(image, nullptr) << i;
        EXPECT_EQ(GetU32(group->data, e + 8), image->data.size()) << i;
        EXPECT_EQ(GetU32(image->data, 8), 2 * want) << i;  // both masks
        // The top row lies outside the picture, the middle row inside it.
        IconPixel outside = IconPixelAt(image->data, want / 2, 0), inside = IconPixelAt(image->data, want / 2, want / 2);
        EXPECT_TRUE(outside.masked) << i;
        EXPECT_EQ(outside.alpha, bits == 32 ? 0 : 255) << i;
        if (bits != 32) {
            EXPECT_EQ(ColourText(outside.colour), "000000") << i;  // XORed onto the screen: black leaves it
        }
        EXPECT_FALSE(inside.masked) << i;
        EXPECT_EQ(ColourText(inside.colour), "FF0000") << i;
        EXPECT_EQ(inside.alpha, 255) << i;
    }
}

// As pack's warning does (ATitleBeyondAsciiIsWarnedAboutWithWhatTheWindowShows).
TEST_F(Kelpack, ShowRendersATitleAsTheWindowShowsIt) {
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "@s240.bmp", "--title", "Game \xC3\xBC"}), 0) << err_;
    const std::string shown = "\"Game \xEF\xBF\x83\xEF\xBE\xBC\" (bytes \"Game \\xc3\\xbc\")";
    ASSERT_EQ(Run({"show", "@out.exe"}), 0) << err_;
    EXPECT_NE(out_.find("Title: " + shown + "\n"), std::string::npos) << out_;
    ASSERT_EQ(Run({"show", "--json", "@out.exe"}), 0) << err_;
    EXPECT_NE(out_.find("  \"title\": \"Game \xEF\xBF\x83\xEF\xBE\xBC\",\n  \"title_bytes\": \"Game \\u00c3\\u00bc\",\n"),
              std::string::npos) << out_;
    EXPECT_NE(out_.find("\"title\": \"Game \xEF\xBF\x83\xEF\xBE\xBC\", \"present\": true"), std::string::npos) << out_;
}

TEST_F(Kelpack, ATopDownBitmapIsTurnedBottomUpWithTheSamePixels) {
    std::vector<std::uint8_t> top = PatternBmpBytes(10, 10);
    PutU32(&top, 22, static_cast<std::uint32_t>(-10));
    Put("top.bmp", top);
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "@top.bmp"}), 0) << err_;
    EXPECT_NE(err_.find("top.bmp: 10x10, written as 24-bit (its 100 colours would take 200 bytes more at 8 bits, for the palette), 374 bytes"),
              std::string::npos) << err_;
    Picture source, packed;
    PictureSource kind;
    std::string why;
    ASSERT_TRUE(DecodePicture(top, kDefaultBackground, &source, &kind, &why)) << why;
    ResourceList list = ResourcesOf("out.exe");
    ASSERT_TRUE(LauncherPixels(FindResource(list, SplashType(), ResNameUpper("top.bmp"))->data, &packed, &why)) << why;
    EXPECT_EQ(packed.rgb, source.rgb);
}

TEST_F(Kelpack, ATitleBeyondAsciiIsWarnedAboutWithWhatTheWindowShows) {
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "@s240.bmp", "--title", "Game \xC3\xBC"}), 0) << err_;
    // Each byte sign-extended: C3 BC become U+FFC3 U+FFBC.
    EXPECT_NE(err_.find("kelpack: warning: --title: the title has bytes beyond ASCII; the launcher widens each byte on its own "
                        "(to a character from U+FF80 to U+FFFF), so the splash window shows \"Game \xEF\xBF\x83\xEF\xBE\xBC\" "
                        "(bytes \"Game \\xc3\\xbc\"), not \"Game \xC3\xBC\""),
              std::string::npos) << err_;
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@other.exe", "--splash", "@s240.bmp", "--title", "Game"}), 0) << err_;
    EXPECT_EQ(err_.find("warning"), std::string::npos) << err_;
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@third.exe", "--background", "fffff"}), 1);
    EXPECT_NE(err_.find("--background \"fffff\": give a colour as RRGGBB"), std::string::npos) << err_;
}

TEST_F(Kelpack, DamagedLaunchersAreRejectedWithExitCode3) {
    std::vector<std::uint8_t> exe = Get("kel.exe");
    Put("other.exe", std::vector<std::uint8_t>(exe.begin(), exe.end() - 100));
    EXPECT_EQ(Run({"pack", "@other.exe", "-o", "@out.exe", "--command-line", "x"}), 3);
    EXPECT_NE(err_.find("other.exe: truncated"), std::string::npos) << err_;
    EXPECT_EQ(Run({"show", "@other.exe"}), 3);
    Put("other.exe", {'M', 'Z'});
    EXPECT_EQ(Run({"show", "@other.exe"}), 3);
    EXPECT_NE(err_.find("not a PE image"), std::string::npos);
    EXPECT_EQ(Run({"show", "@nowhere.exe"}), 2);
    EXPECT_FALSE(Exists("out.exe"));
}

TEST_F(Kelpack, UsageErrorsExitWith1) {
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(Run({"frobnicate"}), 1);
    EXPECT_EQ(Run({"pack", "@kel.exe"}), 1);
    EXPECT_NE(err_.find("no output given"), std::string::npos);
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@kel.exe", "--command-line", "x"}), 1);
    EXPECT_NE(err_.find("never changes its input"), std::string::npos);
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--frob"}), 1);
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash"}), 1);
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--splash", "0x5:@s240.bmp"}), 1);
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--config", "@cfg.txt", "--splash", "@s240.bmp"}), 1);
    EXPECT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--bitmap", "noequals"}), 1);
    EXPECT_EQ(Run({"show"}), 1);
    EXPECT_EQ(Run({"show", "@kel.exe", "--frob"}), 1);
    EXPECT_FALSE(Exists("out.exe"));
}

TEST_F(Kelpack, HelpForTheToolAndEachCommand) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out_.find("kelpack pack LAUNCHER -o OUTPUT"), std::string::npos);
    EXPECT_NE(out_.find("Exit codes"), std::string::npos);
    EXPECT_EQ(Run({"pack", "--help"}), 0);
    EXPECT_NE(out_.find("--splash [WxH:]IMAGE[:NAME]"), std::string::npos);
    EXPECT_NE(out_.find("--background RRGGBB"), std::string::npos);
    EXPECT_EQ(Run({"help", "show"}), 0);
    EXPECT_NE(out_.find("--json"), std::string::npos);
    EXPECT_EQ(Run({"show", "-h"}), 0);
}

// One line on standard output, in the form packagers and scripts parse; the
// install test checks that the number is the release's.
TEST_F(Kelpack, VersionIsOneLineAndListedInTheHelp) {
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_TRUE(std::regex_match(out_, std::regex("kelpack [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << out_;
    EXPECT_EQ(err_, "");
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out_.find("kelpack --version"), std::string::npos);
}

// The pack help says under which type and name each option's resource goes.
TEST_F(Kelpack, PackHelpNamesEveryResourcePackWrites) {
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--app", "@game.kel", "--command-line", "game.Main",
                   "--splash", "@s240.bmp", "--title", "T", "--icon", "@app.ico"}), 0) << err_;
    ResourceList list = ResourcesOf("out.exe");
    ASSERT_EQ(Run({"pack", "--help"}), 0);
    // Upper case, one space wherever the help breaks a line.
    std::string help;
    for (char c : out_) {
        if (c == ' ' || c == '\n') {
            if (!help.empty() && help.back() != ' ') help += ' ';
        } else {
            help += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    int named = 0;
    for (const Resource& r : list) {
        std::string want;
        if (r.type.isName) {
            bool bitmap = ResIdMatches(r.type, SplashType());  // named by the user
            want = "(RESOURCE " + text::WideToUtf8(r.type.name) + ", " + (bitmap ? "NAME" : text::WideToUtf8(r.name.name)) + ")";
        } else if (r.type.id == kRtGroupIcon) {
            want = "(ICON GROUP " + std::to_string(r.name.id) + ")";
        } else {
            continue;  // the icon's images, which the group names
        }
        ++named;
        EXPECT_NE(help.find(want), std::string::npos) << want << "\n" << help;
    }
    EXPECT_EQ(named, 5);  // application, command line, configuration, bitmap, icon group
}

TEST_F(Kelpack, ShowListsWhatThePackCarries) {
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@out.exe", "--app", "@game.kel", "--command-line", "game.Main",
                   "--splash", "240x320:@s240.bmp", "--splash", "480x600:@s480.bmp", "--icon", "@app.ico"}), 0) << err_;
    EXPECT_NE(err_.find("says 480x600 but the bitmap is 480x640"), std::string::npos) << err_;
    ASSERT_EQ(Run({"show", "@out.exe"}), 0) << err_;
    for (const char* want : {"PE32+ x64", "KEL-APPLICATION.KEL", "Command line: \"game.Main\"", "Application package: 6 bytes",
                             "SplashScreen=240x320;s240.bmp  -> 240x320, 24-bit",
                             "SplashScreen=480x600;s480.bmp  -> 480x640, 8-bit (differs from the configured size)",
                             "Title: \"My Splash Screen\"", "Icon group 50: 1 image\n", "#14 (GROUP_ICON)"})
        EXPECT_NE(out_.find(want), std::string::npos) << want << "\n" << out_;
    ASSERT_EQ(Run({"show", "--json", "@out.exe"}), 0);
    for (const char* want : {"\"format\": \"PE32+\"", "\"command_line\": \"game.Main\"", "\"application_size\": 6",
                             "{\"type\": \"KELFILE\", \"name\": \"KEL-APPLICATION.KEL\", \"lang\": 0, \"size\": 6}",
                             "{\"type\": 14, \"name\": 50, \"lang\": 0, \"size\": 20}",
                             "\"bitmap\": \"s480.bmp\", \"bitmap_present\": true, \"bitmap_valid\": true, \"bitmap_width\": 480",
                             "\"icon_group_50\": {\"images\": 1, \"missing\": 0}", "\"title\": \"My Splash Screen\""})
        EXPECT_NE(out_.find(want), std::string::npos) << want << "\n" << out_;
}

TEST_F(Kelpack, ShowOfAPlainLauncherNamesTheDefaults) {
    ASSERT_EQ(Run({"show", "@kel.exe", "--json"}), 0) << err_;
    EXPECT_NE(out_.find("\"command_line\": null"), std::string::npos);
    EXPECT_NE(out_.find("\"config_packed\": false"), std::string::npos);
    EXPECT_NE(out_.find("\"title\": \"The Big Splash Screen\""), std::string::npos);
    EXPECT_NE(out_.find("\"bitmap\": \"Splash.bmp\", \"bitmap_present\": false"), std::string::npos) << out_;
}

TEST(JsonText, EscapesControlsAndBytesBeyondAscii) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xe9"), "\"a\\\"b\\\\c\\n\\u0001\\u00e9\"");
}

}  // namespace
}  // namespace kelpack
