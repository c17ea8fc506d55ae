// What `kelpack pack` promises a packager about their files: no input is
// overwritten, whatever path names it, and no command's output takes a
// folder's place; a package too large for the device is
// refused before it is read; an interrupted or starved run leaves nothing;
// a repack drops what no entry names and does not repeat old warnings; an
// input that is no launcher is named as such.
#include "cli.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "byteio.h"
#include "copy_contents.h"
#include "fileio.h"
#include "image_limits.h"
#include "pe.h"
#include "pe_write.h"

#include "bmp_builder.h"
#include "image_in_memory.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

class PackSafety : public testsupport::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        Put("kel.exe", testsupport::MakeImage(testsupport::LauncherLayout()));
        Put("s240.bmp", testsupport::PatternBmpBytes(240, 320));
        Put("game.kel", {'K', 'E', 'L', 0, 1, 2});
        std::string cfg = "SplashScreen=240x320;s240.bmp";
        Put("cfg.txt", std::vector<std::uint8_t>(cfg.begin(), cfg.end()));
    }
    // Runs kelpack; "@" at the start of an argument, or after a ':' or '=',
    // stands for the scratch folder.
    int Run(std::vector<std::string> args) {
        out_.clear();
        err_.clear();
        for (std::string& a : args)
            for (std::size_t at = 0; (at = a.find('@', at)) != std::string::npos;) {
                a.replace(at, 1, dir_.string() + "/");
                at += dir_.string().size() + 1;
            }
        return RunCli(args, &out_, &err_);
    }
    // A file of `size` bytes that takes no room on disk.
    void Sparse(const std::string& name, std::uint64_t size) {
        std::ofstream(dir_ / name).close();
        fs::resize_file(dir_ / name, size);
    }
    ResourceList ResourcesOf(const std::string& name) { return testsupport::ResourcesOfImage(Get(name)); }

    std::string out_, err_;
};

TEST_F(PackSafety, NoInputIsOverwrittenWhateverPathNamesIt) {
    fs::create_directories(dir_ / "sub");
    struct Case {
        const char* what;
        std::string link;               // made before the run: "hard:NAME->TARGET" or "sym:NAME->TARGET"
        std::vector<std::string> args;  // after "pack @kel.exe"
        const char* input;              // the file that must stay as it was
        const char* says;
    };
    const std::vector<Case> cases = {
        {"the package as the output", "", {"-o", "@game.kel", "--app", "@game.kel"}, "game.kel", "--app"},
        {"the package by another spelling", "", {"-o", "@sub/../game.kel", "--app", "@./game.kel"}, "game.kel", "--app"},
        {"the package through a hard link", "hard:g2.kel->game.kel", {"-o", "@g2.kel", "--app", "@game.kel"}, "game.kel", "--app"},
        {"the package through a symbolic link", "sym:g3.kel->game.kel", {"-o", "@g3.kel", "--app", "@game.kel"}, "game.kel", "--app"},
        {"the launcher through a symbolic link", "sym:k.exe->kel.exe", {"-o", "@k.exe", "--command-line", "x"}, "kel.exe", "the launcher"},
        {"a splash picture", "", {"-o", "@s240.bmp", "--splash", "240x320:@s240.bmp"}, "s240.bmp", "--splash 240x320:"},
        {"a named bitmap", "", {"-o", "@s240.bmp", "--bitmap", "X=@s240.bmp"}, "s240.bmp", "--bitmap X="},
        {"the icon", "", {"-o", "@game.kel", "--icon", "@game.kel"}, "game.kel", "--icon"},
        {"the configuration", "", {"-o", "@cfg.txt", "--config", "@cfg.txt"}, "cfg.txt", "--config"},
        {"a picture beside the configuration", "", {"-o", "@s240.bmp", "--config", "@cfg.txt"}, "s240.bmp",
         "the picture beside --config"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        const std::string input = c.input;
        if (!c.link.empty()) {
            std::string name = c.link.substr(c.link.find(':') + 1, c.link.find("->") - c.link.find(':') - 1);
            std::string target = c.link.substr(c.link.find("->") + 2);
            fs::remove(dir_ / name);
            if (c.link.rfind("hard", 0) == 0) fs::create_hard_link(dir_ / target, dir_ / name);
            else fs::create_symlink(target, dir_ / name);
        }
        std::vector<std::uint8_t> before = Get(input);
        args.insert(args.begin(), {"pack", "@kel.exe"});
        EXPECT_EQ(Run(args), 1) << err_;
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
        EXPECT_NE(err_.find("choose another output"), std::string::npos) << err_;
        EXPECT_EQ(Get(input), before);
    }
}

TEST_F(PackSafety, NoCommandPutsAFileInAFoldersPlace) {
    fs::create_directories(dir_ / "empty");
    fs::create_directories(dir_ / "full" / "keep");
    fs::create_directories(dir_ / "pics" / "preview-240x320.png");
    struct Case {
        std::vector<std::string> args;
        const char* folder;  // where the output would go; it must stay a folder
    };
    const std::vector<Case> cases = {
        {{"pack", "@kel.exe", "-o", "@empty", "--command-line", "x"}, "empty"},
        {{"pack", "@kel.exe", "-o", "@full", "--command-line", "x"}, "full"},
        {{"cab", "@kel.exe", "-o", "@empty"}, "empty"},
        {{"preview", "@kel.exe", "--screen", "240x320", "-o", "@pics"}, "pics/preview-240x320.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.folder);
        EXPECT_EQ(Run(c.args), 1) << err_;
        EXPECT_NE(err_.find(Path(c.folder) + " is a folder; kelpack writes a file and never puts it in a folder's place"),
                  std::string::npos) << err_;
        EXPECT_TRUE(fs::is_directory(dir_ / c.folder));
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "empty"));
    EXPECT_EQ(NamesWith(".kelpack-tmp", "pics"), std::vector<std::string>{});
}

TEST_F(PackSafety, ACopyTooLargeForTheDeviceIsRefusedBeforeThePackageIsRead) {
    Sparse("huge.kel", std::uint64_t{300} << 20);  // read whole, it would take seconds and 300 MiB
    Sparse("large.kel", std::uint64_t{33} << 20);
    Sparse("big.kel", std::uint64_t{17} << 20);
    Sparse("huge.exe", std::uint64_t{33} << 20);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::vector<const char*> says;
    };
    const std::vector<Case> cases = {
        {{"@kel.exe", "--app", "@huge.kel"}, 4, {"--app @huge.kel: it is 300.0 MiB (314572800 bytes) alone, so the image would need"}},
        {{"@kel.exe", "--app", "@large.kel"}, 4,
         {"more than the 32 MiB slot a Windows CE 4.20 process has for its image, its heap and its stacks", "give --allow-large"}},
        {{"@huge.exe", "--command-line", "x"}, 4, {"the launcher @huge.exe: it is 33.0 MiB"}},
        {{"@kel.exe", "--app", "@large.kel", "--allow-large"}, 0,
         {"warning: @out.exe: the image needs 33.0 MiB", "so a device will not start it"}},
        // Last, so that the copy it leaves is read below.
        {{"@kel.exe", "--app", "@big.kel"}, 0, {"warning: @out.exe: the image needs 17.0 MiB", "so the application is left little room"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pack", "-o", "@out.exe"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        fs::remove(dir_ / "out.exe");
        EXPECT_EQ(Run(args), c.code) << err_;
        for (std::string says : c.says) {
            for (std::size_t at; (at = says.find('@')) != std::string::npos;) says.replace(at, 1, dir_.string() + "/");
            EXPECT_NE(err_.find(says), std::string::npos) << says << "\n" << err_;
        }
        EXPECT_EQ(fs::exists(dir_ / "out.exe"), c.code == 0);
        EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
    }
    // The copy carries the package, copied from its file; show warns as pack did.
    const ResourceList packed = ResourcesOf("out.exe");
    const Resource* app = FindResource(packed, AppType(), AppName());
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->data, std::vector<std::uint8_t>(std::size_t{17} << 20, 0));
    ASSERT_EQ(Run({"show", "--json", "@out.exe"}), 0) << err_;
    EXPECT_NE(err_.find("warning: " + Path("out.exe") + ": the image needs 17.0 MiB"), std::string::npos) << err_;
    EXPECT_NE(out_.find("\"application_size\": 17825792"), std::string::npos);
}

// A package that stays in its file is written, checksummed and compared
// with its file exactly as one held in memory.
TEST_F(PackSafety, APackageFromItsFileIsWrittenAsOneHeldAndAChangedFileIsCaught) {
    testsupport::TestImageLayout layout = testsupport::LauncherLayout();
    PeImage image = testsupport::Parsed(testsupport::MakeImage(layout));
    std::vector<std::uint8_t> package(100003);
    for (std::size_t i = 0; i < package.size(); ++i) package[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    fs::path file = dir_ / "package.kel";
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(file.string(), package, "", &error)) << error;

    ResourceList held, kept;
    PutResource(&held, TextType(), CommandLineName(), {'a', 'b', 'c'});
    kept = held;
    PutResource(&held, AppType(), AppName(), package);
    LeafSource source;
    source.external = true;
    source.path = file.string();
    source.size = package.size();
    PutFileResource(&kept, AppType(), AppName(), source);

    std::vector<std::uint8_t> fromMemory, fromFile;
    RsrcPlacement placement;
    std::vector<std::string> warnings;
    ASSERT_TRUE(LayOutResources(image, held, &fromMemory, &placement, &warnings, &error)) << error;
    ASSERT_TRUE(LayOutResources(image, kept, &fromFile, &placement, &warnings, &error)) << error;
    EXPECT_EQ(fromFile, fromMemory);
    EXPECT_TRUE(CheckWrittenImage(fromFile, kept, &error)) << error;

    // The file changed between the write and the read-back: one byte, or its length.
    package[package.size() / 2] ^= 1;
    ASSERT_TRUE(WriteFileAtomic(file.string(), package, "", &error));
    EXPECT_FALSE(CheckWrittenImage(fromFile, kept, &error));
    EXPECT_NE(error.find("reads back otherwise"), std::string::npos) << error;
    package.resize(10);
    ASSERT_TRUE(WriteFileAtomic(file.string(), package, "", &error));
    EXPECT_FALSE(CheckWrittenImage(fromFile, kept, &error));
    EXPECT_NE(error.find("shorter than when kelpack looked at it"), std::string::npos) << error;
}

TEST(PeChecksumSum, PiecesOfAnySizeSumAsTheWhole) {
    std::vector<std::uint8_t> bytes(1001);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xFF - i * 13);
    for (std::uint32_t field : {0u, 7u, 64u, 998u}) {
        for (std::size_t piece : {1u, 2u, 3u, 5u, 64u, 1000u}) {
            PeChecksumSum sum(field);
            for (std::size_t at = 0; at < bytes.size(); at += piece)
                sum.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
            EXPECT_EQ(sum.Finish(), PeChecksum(bytes, field)) << "field " << field << ", pieces of " << piece;
        }
    }
}

TEST_F(PackSafety, ARepackDropsBitmapsNoEntryNamesAndDoesNotRepeatWhatFitChose) {
    Put("s480.bmp", testsupport::PatternBmpBytes(480, 640));
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@one.exe", "--splash", "200x200:@s240.bmp", "--splash", "480x640:@s480.bmp", "--fit"}), 0)
        << err_;
    EXPECT_EQ(err_.find("warning"), std::string::npos) << err_;

    // Only the title changes: the fitted 150x200 bitmap is not warned about again.
    ASSERT_EQ(Run({"pack", "@one.exe", "-o", "@two.exe", "--title", "New"}), 0) << err_;
    EXPECT_EQ(err_.find("warning"), std::string::npos) << err_;

    // A new configuration that names only one of them: the other goes, with a note.
    ASSERT_EQ(Run({"pack", "@one.exe", "-o", "@three.exe", "--splash", "480x640:@s480.bmp"}), 0) << err_;
    EXPECT_NE(err_.find("note: S240.BMP: no entry of the configuration names this splash bitmap of " + Path("one.exe") +
                        " any more; dropped, "),
              std::string::npos) << err_;
    EXPECT_EQ(FindResource(ResourcesOf("three.exe"), SplashType(), ResNameUpper("s240.bmp")), nullptr);
    ASSERT_EQ(Run({"pack", "@one.exe", "-o", "@four.exe", "--splash", "480x640:@s480.bmp", "--keep-unused"}), 0) << err_;
    EXPECT_NE(FindResource(ResourcesOf("four.exe"), SplashType(), ResNameUpper("s240.bmp")), nullptr);
    EXPECT_LT(Get("three.exe").size(), Get("four.exe").size());

    // A bitmap given now that no entry names is packed as asked, with a
    // warning naming the option; the next repack drops it.
    ASSERT_EQ(Run({"pack", "@one.exe", "-o", "@five.exe", "--bitmap", "Other=@s240.bmp"}), 0) << err_;
    EXPECT_NE(err_.find("warning: --bitmap Other=" + Path("s240.bmp") + ": no entry of the configuration names the bitmap"),
              std::string::npos) << err_;
    EXPECT_NE(FindResource(ResourcesOf("five.exe"), SplashType(), ResNameUpper("Other")), nullptr);
    ASSERT_EQ(Run({"pack", "@five.exe", "-o", "@seven.exe", "--command-line", "x"}), 0) << err_;
    EXPECT_NE(err_.find("note: OTHER: no entry"), std::string::npos) << err_;
    EXPECT_EQ(FindResource(ResourcesOf("seven.exe"), SplashType(), ResNameUpper("Other")), nullptr);

    // A size warning names the --splash option that caused it.
    ASSERT_EQ(Run({"pack", "@kel.exe", "-o", "@six.exe", "--splash", "240x320:@s240.bmp", "--splash", "480x600:@s480.bmp"}), 0);
    EXPECT_NE(err_.find("warning: --splash 480x600:" + Path("s480.bmp") + ": the entry for \"s480.bmp\" says 480x600"),
              std::string::npos) << err_;
}

TEST_F(PackSafety, AnImageThatIsNoLauncherIsNamedAsSuch) {
    auto image = [](std::uint16_t machine, bool launcher, std::uint16_t characteristics, std::uint16_t subsystem) {
        std::vector<std::uint8_t> b = testsupport::MakeImage(launcher ? testsupport::LauncherLayout(machine)
                                                                      : testsupport::PlainLayout(machine));
        PutU16(&b, testsupport::kPeOffset + 22, characteristics);
        PutU16(&b, testsupport::kOptOffset + 68, subsystem);
        return b;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> exe;
        const char* says;  // nullptr: no warning
    };
    const std::vector<Case> cases = {
        {"the x64 launcher", image(0x8664, true, 0x22, 2), nullptr},
        {"a device's ARM launcher", image(0x1c0, true, 0x22, 9), nullptr},
        {"a DLL", image(0x8664, true, 0x2022, 2), "it is a DLL, not a program"},
        {"a console program", image(0x8664, true, 0x22, 3), "its subsystem is console (3); the launcher is a Windows GUI program"},
        {"a program that never reads CommandLine", image(0x8664, false, 0x22, 2),
         "its code never names the CommandLine resource"},
        {"an ARM64 program", image(0xaa64, true, 0x22, 2), "it is built for ARM64, a machine the launcher is not built for"},
        {"a Thumb program", image(0x1c2, true, 0x22, 9), "it is built for ARM Thumb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("in.exe", c.exe);
        ASSERT_EQ(Run({"pack", "@in.exe", "-o", "@out.exe", "--command-line", "x"}), 0) << err_;
        if (c.says == nullptr) {
            EXPECT_EQ(err_.find("warning"), std::string::npos) << err_;
            continue;
        }
        EXPECT_NE(err_.find("warning: the launcher " + Path("in.exe") + ": " + c.says), std::string::npos) << err_;
        ASSERT_EQ(Run({"show", "@in.exe"}), 0);
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
    }
    ASSERT_EQ(Run({"show", "@out.exe"}), 0);
    EXPECT_NE(out_.find("PE32+ ARM Thumb (no launcher is built for it)"), std::string::npos) << out_;
}

#if !defined(_WIN32)

// Runs `kelpack ARGS` in a child process, standard error into `errFile`;
// `whileRunning` is called in the parent with the child's id.
template <typename WhileRunning>
int RunChild(const std::vector<std::string>& args, const std::string& errFile, WhileRunning whileRunning) {
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        if (std::freopen(errFile.c_str(), "w", stderr) == nullptr) ::_exit(99);
        std::string out, err;
        int code = RunCli(args, &out, &err);
        std::fputs(err.c_str(), stderr);
        std::fflush(stderr);
        ::_exit(code);
    }
    whileRunning(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST_F(PackSafety, AnInterruptedWriteRemovesItsTemporaryFileAndEndsAsTheSignalDoes) {
    Sparse("app.kel", std::uint64_t{128} << 20);
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        bool seen = false;
        int status = RunChild({"pack", Path("kel.exe"), "-o", Path("out.exe"), "--app", Path("app.kel"), "--allow-large"},
                              Path("err.txt"), [&](pid_t child) {
                                  // Killed as soon as the temporary file is there: the output is being written.
                                  for (int i = 0; i < 60000 && !seen; ++i) {
                                      seen = !NamesWith("out.exe.kelpack-tmp-").empty();
                                      if (!seen) ::usleep(1000);
                                  }
                                  ::kill(child, signal);
                              });
        ASSERT_TRUE(seen) << "the child never wrote";
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself, with status " << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
        EXPECT_FALSE(fs::exists(Path("out.exe")));
    }
}

TEST_F(PackSafety, RunningOutOfMemoryEndsWithExitCode5AndNoFile) {
#if defined(__SANITIZE_ADDRESS__) || defined(__arm__)
    GTEST_SKIP() << "the sanitizer's allocator, or qemu's, does not honour an address-space limit";
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's allocator does not honour an address-space limit";
#endif
#endif
    Sparse("app.kel", std::uint64_t{200} << 20);
    // The process may grow by 100 MiB; reading the 200 MiB copy back cannot.
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    ASSERT_TRUE(statm >> pages);
    rlim_t limit = static_cast<rlim_t>(pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + (std::uint64_t{100} << 20));
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        struct rlimit rl = {limit, limit};
        if (::setrlimit(RLIMIT_AS, &rl) != 0) ::_exit(98);
        if (std::freopen(Path("err.txt").c_str(), "w", stderr) == nullptr) ::_exit(99);
        std::string out, err;
        int code = RunCli({"pack", Path("kel.exe"), "-o", Path("out.exe"), "--app", Path("app.kel"), "--allow-large"}, &out, &err);
        std::fputs(err.c_str(), stderr);
        std::fflush(stderr);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::vector<std::uint8_t> err = Get("err.txt");
    std::string said(err.begin(), err.end());
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << said;
    EXPECT_EQ(WEXITSTATUS(status), 5) << said;
    EXPECT_NE(said.find("kelpack: error: out of memory; nothing was written"), std::string::npos) << said;
    EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(Path("out.exe")));
#endif
}

#endif  // !_WIN32

}  // namespace
}  // namespace kelpack
