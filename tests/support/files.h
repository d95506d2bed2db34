// A fresh directory for each test, removed afterwards, and the bytes of files in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "support/bytes.h"

namespace TestSupport {

class CTempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrin_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Paths in the directory. Its own name is ASCII, so widening it byte by byte gives its wide
    // form; so does widening an ASCII name.
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
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
