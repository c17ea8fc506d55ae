// A test whose files live in a scratch folder of their own, made before the
// test and removed after it, so that tests running side by side (ctest -j)
// never see each other's files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kel_" + std::to_string(std::rand()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << "could not write " << Path(name);
    }
    std::vector<std::uint8_t> Get(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        EXPECT_TRUE(in.good()) << "could not read " << Path(name);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The names in a folder of the scratch folder ("" for itself) that hold `part`.
    std::vector<std::string> NamesWith(const std::string& part, const std::string& folder = "") const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_ / folder)) {
            std::string name = e.path().filename().string();
            if (name.find(part) != std::string::npos) names.push_back(name);
        }
        return names;
    }

    std::filesystem::path dir_;
};

}  // namespace testsupport
