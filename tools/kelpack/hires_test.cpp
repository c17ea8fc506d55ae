// The mark of a copy ready for high-resolution screens: packed by `pack
// --hi-res-aware`, reported by `show` and `explain`, and, for a copy without
// it, what a high-resolution device shows instead, in `explain` and as a
// second `preview` picture.
#include <gtest/gtest.h>

#include <stb_image.h>

#include "cli.h"
#include "copy_contents.h"
#include "fileio.h"
#include "launcher_view.h"
#include "pe.h"
#include "pe_write.h"
#include "preview.h"

#include "bmp_builder.h"
#include "image_in_memory.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

TEST(HiResMark, OnlyTheOneSixteenBitValueOneMarks) {
    struct Case { std::vector<std::uint8_t> data; bool present, marked; const char* held; };
    const Case cases[] = {
        {{1, 0}, true, true, ""},
        {{2, 0}, true, false, "2 bytes: 02 00"},
        {{1}, true, false, "1 byte: 01"},
        {{1, 0, 0, 0}, true, false, "4 bytes: 01 00 00 00"},
        {{}, true, false, "0 bytes"},
        {std::vector<std::uint8_t>(9, 0xAB), true, false, "9 bytes: ab ab ab ab ab ab ab ab ..."},
    };
    for (const Case& c : cases) {
        ResourceList res;
        PutResource(&res, HiResAwareType(), HiResAwareName(), c.data);
        HiResMark mark = ReadHiResMark(res);
        EXPECT_EQ(mark.present, c.present) << c.held;
        EXPECT_EQ(mark.marked, c.marked) << c.held;
        EXPECT_EQ(mark.held, c.held);
    }
    // Another type or name is no mark; the lookup ignores case, as the device's does.
    ResourceList res;
    PutResource(&res, ResNameUpper("CEUY"), HiResAwareName(), {1, 0});
    PutResource(&res, HiResAwareType(), ResNameUpper("HI_RES"), {1, 0});
    EXPECT_FALSE(ReadHiResMark(res).present);
    PutResource(&res, ResNameUpper("ceux"), ResNameUpper("hi_res_aware"), {1, 0});
    EXPECT_TRUE(ReadHiResMark(res).marked);
}

TEST(DoubledScreen, IsTheLowResolutionScreenOfTheSameOrientation) {
    struct Case { std::int32_t w, h; bool doubled; std::int32_t toldW, toldH; };
    const Case cases[] = {
        {240, 320, false, 0, 0}, {320, 240, false, 0, 0}, {240, 240, false, 0, 0}, {200, 100, false, 0, 0},
        {480, 640, true, 240, 320}, {640, 480, true, 320, 240}, {480, 480, true, 240, 240},
        {800, 480, true, 320, 240}, {241, 320, true, 240, 320}, {320, 321, true, 240, 320},
    };
    for (const Case& c : cases) {
        ScreenSize told{0, 0};
        EXPECT_EQ(DoubledScreen(c.w, c.h, &told), c.doubled) << c.w << "x" << c.h;
        EXPECT_EQ(told.width, c.toldW) << c.w << "x" << c.h;
        EXPECT_EQ(told.height, c.toldH) << c.w << "x" << c.h;
    }
}

TEST(DoublePixels, MakesEachPixelTwoByTwo) {
    Picture in;
    in.width = 2;
    in.height = 1;
    in.rgb = {1, 2, 3, 4, 5, 6};
    Picture out = DoublePixels(in);
    EXPECT_EQ(out.width, 4);
    EXPECT_EQ(out.height, 2);
    EXPECT_EQ(out.rgb, (std::vector<std::uint8_t>{1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6, 1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6}));
}

class HiRes : public testsupport::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        Put("kel.exe", testsupport::MakeImage(testsupport::LauncherLayout()));
        Put("small.bmp", testsupport::PatternBmpBytes(30, 20));
        Put("big.bmp", testsupport::PatternBmpBytes(300, 400, 8));
        for (const char* copy : {"plain.exe", "marked.exe"}) {
            std::vector<std::string> args = {"pack", Path("kel.exe"), "-o", Path(copy), "--splash", "240x320:" + Path("small.bmp"),
                                             "--splash", "480x640:" + Path("big.bmp")};
            if (std::string(copy) == "marked.exe") args.push_back("--hi-res-aware");
            ASSERT_EQ(Run(args), 0) << err_;
        }
    }
    int Run(const std::vector<std::string>& args) {
        out_.clear();
        err_.clear();
        return RunCli(args, &out_, &err_);
    }
    ResourceList ResourcesOf(const std::string& name) { return testsupport::ResourcesOfImage(Get(name)); }
    // The RGB of a PNG file written by preview.
    Picture Png(const std::string& name) {
        std::vector<std::uint8_t> png = Get(name);
        int w = 0, h = 0, channels = 0;
        stbi_uc* px = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 3);
        Picture p;
        if (px == nullptr) return p;
        p.width = w;
        p.height = h;
        p.rgb.assign(px, px + static_cast<std::size_t>(w) * h * 3);
        stbi_image_free(px);
        return p;
    }

    std::string out_, err_;
};

TEST_F(HiRes, PackMarksTheCopyAndShowTellsIt) {
    const ResourceList marked = ResourcesOf("marked.exe");
    const Resource* mark = FindResource(marked, ResNameUpper("CEUX"), ResNameUpper("HI_RES_AWARE"));
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->data, (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(FindResource(ResourcesOf("plain.exe"), HiResAwareType(), HiResAwareName()), nullptr);
    // A repack keeps the mark, as every resource the options do not name.
    ASSERT_EQ(Run({"pack", Path("marked.exe"), "-o", Path("again.exe"), "--title", "T"}), 0) << err_;
    EXPECT_TRUE(ReadHiResMark(ResourcesOf("again.exe")).marked);
    // Given alone, the mark is something to pack.
    ASSERT_EQ(Run({"pack", Path("kel.exe"), "-o", Path("only.exe"), "--hi-res-aware"}), 0) << err_;
    EXPECT_EQ(err_.find("nothing to pack"), std::string::npos) << err_;

    ASSERT_EQ(Run({"show", Path("marked.exe")}), 0) << err_;
    EXPECT_NE(out_.find("High resolution: marked ready (CEUX HI_RES_AWARE): a 480x640 Pocket PC tells the launcher and its "
                        "engine the real screen size\n"), std::string::npos) << out_;
    ASSERT_EQ(Run({"show", Path("plain.exe")}), 0) << err_;
    EXPECT_NE(out_.find("High resolution: not marked: a Pocket PC with a 480x640 screen (CE 4.21 on) tells the launcher and "
                        "its engine that the screen is 240x320 and doubles every pixel"), std::string::npos) << out_;
    for (const char* copy : {"plain.exe", "marked.exe"}) {
        ASSERT_EQ(Run({"show", "--json", Path(copy)}), 0) << err_;
        EXPECT_NE(out_.find(std::string("\"hi_res_aware\": ") + (copy[0] == 'm' ? "true" : "false") + ",\n"), std::string::npos) << out_;
    }

    // A resource of that name that holds anything else is named, and taken as no mark.
    PeImage image = testsupport::Parsed(Get("plain.exe"));
    ResourceList res = ResourcesOf("plain.exe");
    PutResource(&res, HiResAwareType(), HiResAwareName(), {1, 0, 0, 0});
    std::vector<std::uint8_t> out;
    RsrcPlacement placement;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(LayOutResources(image, res, &out, &placement, &warnings, &error)) << error;
    Put("odd.exe", out);
    ASSERT_EQ(Run({"show", "--json", Path("odd.exe")}), 0) << err_;
    EXPECT_NE(err_.find("warning: " + Path("odd.exe") + ": its CEUX HI_RES_AWARE resource holds 4 bytes: 01 00 00 00, not the "
                        "one 16-bit value 1 that marks a program ready for high-resolution screens; kelpack takes the copy as "
                        "not marked"), std::string::npos) << err_;
    EXPECT_NE(out_.find("\"hi_res_aware\": false"), std::string::npos);
}

TEST_F(HiRes, ExplainAddsWhatAHighResolutionDeviceShowsAnUnmarkedCopy) {
    ASSERT_EQ(Run({"explain", Path("plain.exe"), "--screen", "480x640", "--", "doc.kel"}), 0) << err_;
    EXPECT_NE(out_.find("4. Splash on a 480x640 screen (packed CONFIG): \"big.bmp\" (entry 480x640): decodes"), std::string::npos)
        << out_;
    EXPECT_NE(out_.find("   That is on a CE 4.20 device. A high-resolution Pocket PC (Windows Mobile 2003 Second Edition, CE "
                        "4.21 on) tells this copy, not marked ready for high resolution (no CEUX HI_RES_AWARE; kelpack pack "
                        "--hi-res-aware marks it), that the screen is 240x320 and doubles every pixel: \"small.bmp\" (entry "
                        "240x320): decodes, 30x20 24-bit.\n"), std::string::npos) << out_;
    ASSERT_EQ(Run({"explain", Path("plain.exe"), "--screen", "640x480", "--json"}), 0) << err_;
    EXPECT_NE(out_.find("\"hi_res_aware\": false, \"second_edition\": {\"screen_width\": 320, \"screen_height\": 240, "
                        "\"bitmap\": \"small.bmp\""), std::string::npos) << out_;

    ASSERT_EQ(Run({"explain", Path("marked.exe"), "--screen", "480x640"}), 0) << err_;
    EXPECT_NE(out_.find("   The copy is marked ready for high resolution (CEUX HI_RES_AWARE), so a high-resolution Pocket PC "
                        "(CE 4.21 on) tells it the real screen size too, as a CE 4.20 device does.\n"), std::string::npos) << out_;
    ASSERT_EQ(Run({"explain", Path("marked.exe"), "--screen", "480x640", "--json"}), 0) << err_;
    EXPECT_NE(out_.find("\"hi_res_aware\": true, \"second_edition\": null}"), std::string::npos) << out_;
    // A screen no device doubles: nothing more to say.
    ASSERT_EQ(Run({"explain", Path("plain.exe"), "--screen", "320x240"}), 0) << err_;
    EXPECT_EQ(out_.find("high-resolution"), std::string::npos) << out_;
}

TEST_F(HiRes, PreviewDrawsTheDoubledScreenAsASecondPictureForAnUnmarkedCopy) {
    ASSERT_EQ(Run({"preview", Path("plain.exe"), "--screen", "240x320", "--screen", "480x640", "-o", Path("plain")}), 0) << err_;
    EXPECT_NE(out_.find("preview-480x640-doubled.png  480x640 screen of a high-resolution Pocket PC (CE 4.21 on), the copy not "
                        "marked ready for high resolution: 240x320 screen: \"small.bmp\" (entry 240x320): decodes, 30x20 24-bit; "
                        "the window at 105,150; every pixel doubled, 480x640\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("Wrote 3 files."), std::string::npos) << out_;
    Picture low = Png("plain/preview-240x320.png"), doubled = Png("plain/preview-480x640-doubled.png");
    ASSERT_EQ(low.width, 240);
    EXPECT_EQ(doubled.width, 480);
    EXPECT_EQ(doubled.height, 640);
    EXPECT_EQ(doubled.rgb, DoublePixels(low).rgb);
    // The real-size picture still shows what a CE 4.20 device shows: the 480x640 entry.
    EXPECT_NE(Png("plain/preview-480x640.png").rgb, doubled.rgb);

    ASSERT_EQ(Run({"preview", Path("marked.exe"), "--screen", "480x640", "-o", Path("marked")}), 0) << err_;
    EXPECT_TRUE(IsRegularFile(Path("marked/preview-480x640.png")));
    EXPECT_FALSE(IsRegularFile(Path("marked/preview-480x640-doubled.png")));
    EXPECT_NE(out_.find("Wrote 1 file."), std::string::npos) << out_;
}

}  // namespace
}  // namespace kelpack
