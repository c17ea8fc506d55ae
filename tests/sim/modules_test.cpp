// Mapped images in the simulation: their resources are found through their
// own handle as the device finds them, and a damaged tree holds none.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "kelpack/pe_write.h"
#include "pe_builder.h"
#include "platform/resources.h"
#include "scratch_dir.h"
#include "sim.h"

namespace {

using testsupport::ScratchDirTest;

const char16_t* Id(uintptr_t id) { return reinterpret_cast<const char16_t*>(id); }

class MappedImageTest : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        sim::Reset();
    }
    void TearDown() override {
        sim::Reset();
        ScratchDirTest::TearDown();
    }

    // A program whose last section holds the given resources (or, with
    // garbage, as many bytes of 0xFF), written to a file.
    std::string WriteProgram(const kelpack::ResourceList& resources, bool garbage = false) {
        testsupport::TestImageLayout layout = testsupport::PlainLayout(0x01C0, false);
        uint32_t rva = testsupport::SectionRva(layout, layout.sections.size());
        std::vector<uint8_t> tree = kelpack::BuildResourceSection(resources, rva);
        if (garbage) std::fill(tree.begin(), tree.end(), 0xFF);
        layout.sections.push_back({".rsrc", tree, 0, 0x40000040});
        layout.resourceSection = static_cast<int>(layout.sections.size() - 1);
        std::vector<uint8_t> bytes = testsupport::MakeImage(layout);
        std::string path = Path("program.exe");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
};

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST_F(MappedImageTest, ResourcesAreReadInPlaceByNameWhateverItsCaseAndById) {
    kelpack::ResourceList resources;
    kelpack::PutResource(&resources, kelpack::ResNameUpper("Text"), kelpack::ResNameUpper("CommandLine"),
                         Bytes("app.Main"));
    kelpack::PutResource(&resources, kelpack::ResNameUpper("SplashScreen"), kelpack::ResNameUpper("Splash.bmp"),
                         Bytes("BM splash"));
    kelpack::PutResource(&resources, kelpack::IntResId(14), kelpack::IntResId(50), Bytes("icon group"));
    kelpack::PutResource(&resources, kelpack::IntResId(14), kelpack::IntResId(51), {});
    std::string error;
    platform::HMODULE module = sim::MapImageFile(WriteProgram(resources), &error);
    ASSERT_NE(module, nullptr) << error;
    sim::SetLauncherModule(module);
    EXPECT_EQ(platform::GetModuleHandleW(nullptr), module);
    EXPECT_EQ(sim::LauncherModule(), module);

    const auto* base = reinterpret_cast<const uint8_t*>(module);
    struct Case {
        const char16_t* type;
        const char16_t* name;
        const char* expected;   // null: not found
    } const cases[] = {
        {u"Text", u"CommandLine", "app.Main"},
        {u"TEXT", u"commandline", "app.Main"},
        {u"splashscreen", u"SPLASH.BMP", "BM splash"},
        {Id(14), Id(50), "icon group"},
        {Id(14), Id(51), ""},
        {u"Text", u"Command", nullptr},
        {u"Text", u"CommandLine ", nullptr},
        {Id(14), Id(52), nullptr},
        {Id(14), u"50", nullptr},   // a name in text is no id
        {u"Text", Id(50), nullptr},
    };
    for (const Case& c : cases) {
        uint32_t length = 12345;
        size_t calls = sim::CallLog().size();
        const auto* bytes = static_cast<const uint8_t*>(platform::LoadResourceBytes(module, c.name, c.type, &length));
        std::string what = sim::CallLog()[calls];
        if (c.expected == nullptr) {
            EXPECT_EQ(bytes, nullptr) << what;
            EXPECT_EQ(length, 0u) << what;
            continue;
        }
        ASSERT_NE(bytes, nullptr) << what;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), length), c.expected) << what;
        // The bytes are the image's own memory, past its headers.
        if (length == 0) continue;
        EXPECT_GE(bytes, base + 0x1000) << what;
        EXPECT_LT(bytes, base + 0x10000) << what;
    }
    // The call log names the launcher's module wherever it was mapped, and ids as numbers.
    platform::FindResourceW(module, Id(50), Id(14));
    EXPECT_EQ(sim::CallLog().back(), "FindResourceW(module:launcher, #50, #14)");
    platform::LoadResource(module, platform::FindResourceW(module, u"splash.bmp", u"SplashScreen"));
    EXPECT_EQ(sim::CallLog().back(), "LoadResource(module:launcher, resource:SPLASHSCREEN/SPLASH.BMP)");
}

TEST_F(MappedImageTest, DamagedTreeHoldsNothing) {
    kelpack::ResourceList resources;
    kelpack::PutResource(&resources, kelpack::ResNameUpper("Text"), kelpack::ResNameUpper("CommandLine"),
                         Bytes("app.Main"));
    std::string error;
    platform::HMODULE module = sim::MapImageFile(WriteProgram(resources, true), &error);
    ASSERT_NE(module, nullptr) << error;
    EXPECT_EQ(platform::FindResourceW(module, u"CommandLine", u"Text"), nullptr);
    EXPECT_EQ(platform::FindResourceW(module, Id(1), Id(1)), nullptr);
}

TEST_F(MappedImageTest, FileThatIsNoImageIsNotMapped) {
    std::string path = Path("notes.txt");
    std::ofstream(path) << "MZ, but nothing more";
    std::string error;
    EXPECT_EQ(sim::MapImageFile(path, &error), nullptr);
    EXPECT_NE(error.find("notes.txt"), std::string::npos) << error;
    EXPECT_EQ(sim::MapImageFile(Path("missing.exe"), &error), nullptr);
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

}  // namespace
