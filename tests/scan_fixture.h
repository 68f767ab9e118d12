// A scratch folder for scan tests, with paths spelled the way the scan
// spells them (the platform's separator), and a clean slate of scan state.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "adapters/seams.h"
#include "platform/seams.h"
#include "scan/fs.h"
#include "scan/scan_state.h"
#include "tests/scan_recorder.h"

class ScanFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::mt19937 generator{std::random_device{}()};
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        do {
            root_ = (base / ("velmora-scan-" + std::to_string(generator()))).string();
        } while (std::filesystem::exists(root_));
        std::filesystem::create_directories(root_);
        recorder::Reset();
        ResetSeams();
        ResetScanStatistics();
        detectOnly = false;
        keepScanning.store(1);
        seamPlatformFamily = FamilyAuto;
        SelectedFolder[0] = '\0';
        scanReaders = DefaultScanReaders;
        liveBlocks_ = seamLiveBlocks.load();
    }

    void TearDown() override {
        // Whatever a scan, a repair or a copy of a file in use allocated is
        // given back by the time it is over.
        EXPECT_EQ(seamLiveBlocks.load(), liveBlocks_) << "blocks from BlockAlloc were not freed";
        recorder::Reset();
        ResetSeams();
        detectOnly = false;
        seamPlatformFamily = FamilyAuto;
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }

    // root + separator + relative, relative using '/' between parts.
    std::string Path(const std::string& relative = "") const {
        std::string path = root_;
        if (relative.empty()) return path;
        path += PathSeparator;
        for (char c : relative) path += c == '/' ? PathSeparator : c;
        return path;
    }

    void MakeFolder(const std::string& relative) const { std::filesystem::create_directories(Path(relative)); }

    void Write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(Path(relative), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(static_cast<bool>(out)) << Path(relative);
    }

    std::vector<uint8_t> Read(const std::string& relative) const {
        std::ifstream in(Path(relative), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    bool Exists(const std::string& relative) const { return std::filesystem::exists(Path(relative)); }

    // Runs HandleFile on one file the way the walk does.
    void Handle(const std::string& relative) const {
        const std::string path = Path(relative);
        ASSERT_LT(path.size(), sizeof CurrentObjectPath);
        std::memcpy(CurrentObjectPath, path.c_str(), path.size() + 1);
        HandleFileForTest();
        EXPECT_EQ(path, std::string(CurrentObjectPath)) << "the path buffer must be given back as it was";
    }

    static void HandleFileForTest();

    std::string root_;
    int32_t liveBlocks_ = 0;
};
