// A fresh directory for each test, removed afterwards, and the bytes of files in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "support/bytes.h"

namespace TestSupport {

class CTempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && m_dir.empty(); ++attempt) {
            const std::filesystem::path dir = base / ("tavrin_test_" + std::to_string(seed()));
            if (std::filesystem::create_directory(dir)) m_dir = dir.string();
        }
        ASSERT_FALSE(m_dir.empty()) << "no temporary directory in " << base;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Paths in the directory, of UTF-8 names (the narrow form of a path is not UTF-8 on every
    // system). The directory's own name is ASCII, so widening it byte by byte gives its wide
    // form; so does widening an ASCII name.
    std::filesystem::path Path(const std::string& utf8) const {
        return std::filesystem::path(m_dir) / std::u8string(utf8.begin(), utf8.end());
    }
    std::wstring WPath(const std::wstring& name) const {
        return std::wstring(m_dir.begin(), m_dir.end()) + L"/" + name;
    }
    std::wstring WPath(const std::string& ascii) const {
        return WPath(std::wstring(ascii.begin(), ascii.end()));
    }

    Bytes FileBytes(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        EXPECT_TRUE(in.good()) << name;
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void PutFile(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << name;
    }

    std::string m_dir;
};

}  // namespace TestSupport
