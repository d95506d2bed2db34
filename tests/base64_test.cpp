#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/base64.h>
#include <tavrin/cexception.h>

#include "logcapture.h"

namespace {

using Tavrin::Base64::Decode;
using Tavrin::Base64::Encode;
using Tavrin::Base64::GetDecodedSize;

std::string EncodeText(const std::string& bytes, bool lineBreaks = false) {
    return Encode(bytes.data(), bytes.size(), lineBreaks);
}

// Decodes into a buffer of exactly the reported size.
std::string DecodeText(const std::string& text) {
    std::string out(GetDecodedSize(text.c_str()), '\0');
    const size_t size = Decode(text.c_str(), out.data(), out.size());
    EXPECT_EQ(size, out.size());
    return out;
}

// Expects Decode to throw the exception of its failures and to leave the buffer as it was.
void ExpectDecodeFails(const std::string& text, size_t bufferSize) {
    SCOPED_TRACE(text);
    std::vector<unsigned char> buffer(bufferSize + 1, 0xAA);
    LogCapture log;
    try {
        Decode(text.c_str(), buffer.data(), bufferSize);
        ADD_FAILURE() << "no exception";
    } catch (const Tavrin::CException& e) {
        EXPECT_EQ(e.GetCodeLine(), 127u);
        EXPECT_STREQ(e.GetFunctionName(), "Tavrin::Base64::Decode");
        EXPECT_TRUE(std::string(e.GetFilename()).ends_with("core/tavrin/src/base64.cpp"));
    }
    EXPECT_EQ(log.Count(), 1u);
    EXPECT_EQ(buffer, std::vector<unsigned char>(bufferSize + 1, 0xAA));
}

TEST(Base64, KnownVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},     {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"M", "TQ=="},      {"Ma", "TWE="},        {"Man", "TWFu"},
        {std::string("\x00\x00\x00", 3), "AAAA"},
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xEF\xBE", "++++"},
        {"\x03\xE0", "A+A="},
    };
    for (const auto& [bytes, text] : vectors) {
        SCOPED_TRACE(text);
        EXPECT_EQ(EncodeText(bytes), text);
        EXPECT_EQ(EncodeText(bytes, true), text);
        if (!bytes.empty()) {
            EXPECT_EQ(DecodeText(text), bytes);
        }
    }
}

TEST(Base64, LineBreaksFollowEvery18thFullGroup) {
    const std::string line(72, 'A');
    EXPECT_EQ(EncodeText(std::string(53, '\0'), true), std::string(68, 'A') + "AAA=");
    EXPECT_EQ(EncodeText(std::string(54, '\0'), true), line + "\n");
    EXPECT_EQ(EncodeText(std::string(55, '\0'), true), line + "\nAA==");
    EXPECT_EQ(EncodeText(std::string(56, '\0'), true), line + "\nAAA=");
    EXPECT_EQ(EncodeText(std::string(57, '\0'), true), line + "\nAAAA");
    EXPECT_EQ(EncodeText(std::string(108, '\0'), true), line + "\n" + line + "\n");
    EXPECT_EQ(EncodeText(std::string(110, '\0'), true), line + "\n" + line + "\nAAA=");

    for (size_t size = 1; size < 600; ++size) {
        SCOPED_TRACE(size);
        const std::string bytes(size, 'x');
        const std::string plain = EncodeText(bytes);
        const std::string broken = EncodeText(bytes, true);
        EXPECT_EQ(plain.find('\n'), std::string::npos);
        EXPECT_EQ(broken.find('\r'), std::string::npos);
        // Removing the breaks gives the plain text; each break ends a line of 72 characters.
        std::string joined;
        size_t breaks = 0;
        size_t lineStart = 0;
        for (size_t i = 0; i < broken.size(); ++i) {
            if (broken[i] == '\n') {
                EXPECT_EQ(i - lineStart, 72u);
                lineStart = i + 1;
                ++breaks;
            } else {
                joined.push_back(broken[i]);
            }
        }
        EXPECT_EQ(joined, plain);
        EXPECT_EQ(breaks, size / 3 / 18);
    }
}

TEST(Base64, DecodedSizeCountsUpToTheStopAndDropsPadsBeforeIt) {
    EXPECT_EQ(GetDecodedSize("QUJD"), 3u);
    EXPECT_EQ(GetDecodedSize("QUI="), 2u);
    EXPECT_EQ(GetDecodedSize("QQ=="), 1u);
    EXPECT_EQ(GetDecodedSize("Q"), 0u);
    EXPECT_EQ(GetDecodedSize("QU JD"), 3u);
    EXPECT_EQ(GetDecodedSize("QUJD!xyz"), 3u);
    EXPECT_EQ(GetDecodedSize(""), 0u);
    EXPECT_EQ(GetDecodedSize(nullptr), 0u);
    EXPECT_EQ(GetDecodedSize(" \t\r\n"), 0u);
    EXPECT_EQ(GetDecodedSize("QUJD\xC3\xA9QUJD"), 3u);  // bytes above 0x7F are invalid
    EXPECT_EQ(GetDecodedSize("QUJD\x01QUJD"), 3u);
    EXPECT_EQ(GetDecodedSize("QUJD\x0BQUJD"), 3u);      // vertical tab is not white space here
    // Pads count forwards; only those right before the stop point are dropped, and a skip
    // character between them keeps them.
    EXPECT_EQ(GetDecodedSize("QUI=\n"), 3u);
    EXPECT_EQ(GetDecodedSize("QUI=!"), 2u);
    EXPECT_EQ(GetDecodedSize("QQ=QUJD"), 5u);
    // Four pads: the count drops to 0 without reading before the text. The text sits at the
    // start of a heap block so that ASan would see such a read.
    auto pads = std::make_unique<char[]>(5);
    std::memcpy(pads.get(), "====", 5);
    EXPECT_EQ(GetDecodedSize(pads.get()), 0u);
    EXPECT_EQ(GetDecodedSize("=Q=="), 1u);  // the leading pad counts
}

TEST(Base64, DecodeWritesExactlyTheReportedSize) {
    unsigned char buffer[8];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(Decode("QUJD", buffer, 3), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "ABC\xAA");

    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(Decode("QUJD", buffer, sizeof buffer), 3u);  // a larger buffer: the rest untouched
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "ABC\xAA\xAA");

    EXPECT_EQ(DecodeText("QUJD!QUJD"), "ABC");
    EXPECT_EQ(DecodeText("QUJD\xFFQUJD"), "ABC");
    EXPECT_EQ(DecodeText("QUI=QUJD"), std::string("AB\0\0\0\0", 6));
    EXPECT_EQ(DecodeText(" Q U\tJ\r\nD\n"), "ABC");
    EXPECT_EQ(DecodeText("QU\r\nI="), "AB");
    EXPECT_EQ(DecodeText("QQ\n=\n="), std::string("A\0", 2));  // only the last pad is dropped
}

// Text the size rule over-counts: the reported size holds zeros after the decoded bytes.
TEST(Base64, BytesBeyondTheDecodedOnesAreZero) {
    EXPECT_EQ(DecodeText("QUI=\n"), std::string("AB\0", 3));
    EXPECT_EQ(DecodeText("QQ==QUJD"), std::string("A\0\0\0\0\0", 6));
    EXPECT_EQ(DecodeText("Q=QU"), std::string("\0\0\0", 3));
    EXPECT_EQ(DecodeText("QUJDQQ==  "), std::string("ABCA\0\0", 6));

    unsigned char buffer[6];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(Decode("QUI=\n", buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string("AB\0\xAA", 4));
}

TEST(Base64, DecodeFailuresThrowAndLeaveTheBufferUntouched) {
    ExpectDecodeFails("QUJD", 2);
    ExpectDecodeFails("QUJD", 0);
    ExpectDecodeFails("", 8);
    ExpectDecodeFails(" \r\n\t ", 8);
    ExpectDecodeFails("Q", 8);
    ExpectDecodeFails("====", 8);
    ExpectDecodeFails("!QUJD", 8);
    ExpectDecodeFails(EncodeText(std::string(100, 'z'), true), 74);

    LogCapture quiet;
    EXPECT_THROW(Decode(nullptr, nullptr, 0), Tavrin::CException);
    EXPECT_THROW(Decode("QUJD", nullptr, 3), Tavrin::CException);
}

TEST(Base64, EncodeOfNoBytesIsEmptyAndOfNullDataThrows) {
    EXPECT_EQ(Encode(nullptr, 0, true), "");
    LogCapture quiet;
    try {
        Encode(nullptr, 3, false);
        ADD_FAILURE() << "no exception";
    } catch (const Tavrin::CException& e) {
        EXPECT_EQ(e.GetCodeLine(), 86u);
        EXPECT_STREQ(e.GetFunctionName(), "Tavrin::Base64::Encode");
        EXPECT_TRUE(std::string(e.GetFilename()).ends_with("core/tavrin/src/base64.cpp"));
    }
}

// Random bytes of every length round-trip; skip characters at random places, read by the
// block-wise or the character-wise path, do not change the result.
TEST(Base64, RandomBytesRoundTripWithWhiteSpaceAnywhere) {
    std::mt19937 random(7);
    const char spaces[] = {' ', '\t', '\r', '\n'};
    for (size_t size = 1; size < 300; ++size) {
        std::string bytes(size, '\0');
        for (auto& b : bytes) b = static_cast<char>(random());
        if (size == 256) {
            for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i);
        }
        const std::string text = EncodeText(bytes);
        ASSERT_EQ(DecodeText(text), bytes);
        ASSERT_EQ(DecodeText(EncodeText(bytes, true)), bytes);
        std::string spaced;
        for (char c : text) {
            while (random() % 5 == 0) spaced.push_back(spaces[random() % 4]);
            spaced.push_back(c);
        }
        SCOPED_TRACE(spaced);
        // White space after a pad makes the size rule over-count: zeros follow the bytes.
        const std::string decoded = DecodeText(spaced);
        ASSERT_GE(decoded.size(), bytes.size());
        ASSERT_EQ(decoded.substr(0, bytes.size()), bytes);
        ASSERT_EQ(decoded.substr(bytes.size()), std::string(decoded.size() - bytes.size(), '\0'));
    }
}

}  // namespace
