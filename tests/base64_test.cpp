// Base64: known vectors, line breaks, the decoded-size rule, decoding stops and failures.
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/base64.h>
#include <tavrin/cexception.h>

#include "support/raising.h"

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
    EXPECT_EQ(Decode(text.c_str(), out.data(), out.size()), out.size());
    return out;
}

// Expects Decode to throw the exception of its failures and to leave the buffer as it was.
void ExpectDecodeFails(const std::string& text, size_t bufferSize,
                       CallSite where = CallSite::current()) {
    std::vector<unsigned char> buffer(bufferSize + 1, 0xAA);
    ExpectThrowsAt<Tavrin::CException>([&] { Decode(text.c_str(), buffer.data(), bufferSize); },
                                       "core/tavrin/src/base64.cpp", 127, "Tavrin::Base64::Decode",
                                       where);
    EXPECT_EQ(buffer, std::vector<unsigned char>(bufferSize + 1, 0xAA)) << text;
}

TEST(Base64, KnownVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"M", "TQ=="},
        {"Ma", "TWE="},
        {"Man", "TWFu"},
        {std::string("\x00\x00\x00", 3), "AAAA"},
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xEF\xBE", "++++"},
        {"\x03\xE0", "A+A="},
    };
    for (const auto& [bytes, text] : vectors) {
        EXPECT_EQ(EncodeText(bytes), text);
        EXPECT_EQ(EncodeText(bytes, true), text);
        if (!bytes.empty()) {
            EXPECT_EQ(DecodeText(text), bytes);
        }
    }
    EXPECT_EQ(Encode(nullptr, 0, true), "");
    ExpectThrowsAt<Tavrin::CException>([] { Encode(nullptr, 3, false); },
                                       "core/tavrin/src/base64.cpp", 86, "Tavrin::Base64::Encode");
}

TEST(Base64, LineBreaksFollowEvery18thFullGroup) {
    const std::string line(72, 'A');
    EXPECT_EQ(EncodeText(std::string(53, '\0'), true), std::string(68, 'A') + "AAA=");
    EXPECT_EQ(EncodeText(std::string(54, '\0'), true), line + "\n");
    EXPECT_EQ(EncodeText(std::string(55, '\0'), true), line + "\nAA==");
    EXPECT_EQ(EncodeText(std::string(108, '\0'), true), line + "\n" + line + "\n");
    EXPECT_EQ(EncodeText(std::string(110, '\0'), true), line + "\n" + line + "\nAAA=");
    // Every size: the plain text with an LF after each 72 characters of 18 full groups.
    for (size_t size = 1; size < 600; ++size) {
        const std::string plain = EncodeText(std::string(size, 'x'));
        EXPECT_EQ(plain.find('\n'), std::string::npos) << size;
        std::string expected = plain;
        for (size_t k = size / 54; k > 0; --k) expected.insert(72 * k, "\n");
        EXPECT_EQ(EncodeText(std::string(size, 'x'), true), expected) << size;
    }
}

TEST(Base64, DecodedSizeCountsUpToTheStopAndDropsPadsBeforeIt) {
    const std::pair<const char*, size_t> cases[] = {
        {"QUJD", 3},
        {"QUI=", 2},
        {"QQ==", 1},
        {"Q", 0},
        {"QU JD", 3},
        {"QUJD!xyz", 3},
        {"", 0},
        {" \t\r\n", 0},
        // Bytes above 0x7F, control characters and vertical tab are invalid: the scan stops.
        {"QUJD\xC3\xA9QUJD", 3},
        {"QUJD\x01QUJD", 3},
        {"QUJD\x0BQUJD", 3},
        // Pads count forwards; only those right before the stop point are dropped, and a skip
        // character between them keeps them.
        {"QUI=\n", 3},
        {"QUI=!", 2},
        {"QQ=QUJD", 5},
        {"=Q==", 1},
    };
    for (const auto& [text, size] : cases) EXPECT_EQ(GetDecodedSize(text), size) << text;
    EXPECT_EQ(GetDecodedSize(nullptr), 0u);
    // Four pads: the count drops to 0 without reading before the text. The text sits at the
    // start of a heap block so that ASan would see such a read.
    auto pads = std::make_unique<char[]>(5);
    std::memcpy(pads.get(), "====", 5);
    EXPECT_EQ(GetDecodedSize(pads.get()), 0u);
}

TEST(Base64, DecodeStopsAtInvalidCharactersAndPads) {
    const std::pair<std::string, std::string> cases[] = {
        {"QUJD!QUJD", "ABC"},
        {"QUJD\xFFQUJD", "ABC"},
        {" Q U\tJ\r\nD\n", "ABC"},
        {"QU\r\nI=", "AB"},
        // Text the size rule over-counts: the reported size holds zeros after the decoded bytes.
        {"QUI=QUJD", std::string("AB\0\0\0\0", 6)},
        {"QQ\n=\n=", std::string("A\0", 2)},
        {"QUI=\n", std::string("AB\0", 3)},
        {"QQ==QUJD", std::string("A\0\0\0\0\0", 6)},
        {"Q=QU", std::string("\0\0\0", 3)},
        {"QUJDQQ==  ", std::string("ABCA\0\0", 6)},
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(DecodeText(text), bytes) << text;

    // Exactly the decoded size is written, however large the buffer.
    unsigned char buffer[8];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(Decode("QUJD", buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "ABC\xAA\xAA");
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
    EXPECT_TRUE(Throws<Tavrin::CException>([] { Decode(nullptr, nullptr, 0); }));
    EXPECT_TRUE(Throws<Tavrin::CException>([] { Decode("QUJD", nullptr, 3); }));
}

// Random bytes of every length round-trip; skip characters at random places, read by the
// block-wise or the character-wise path, do not change the result.
TEST(Base64, RandomBytesRoundTripWithWhiteSpaceAnywhere) {
    std::mt19937 random(7);
    const char spaces[] = {' ', '\t', '\r', '\n'};
    for (size_t size = 1; size < 300; ++size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(size == 256 ? i : random());
        const std::string text = EncodeText(bytes);
        ASSERT_EQ(DecodeText(text), bytes);
        ASSERT_EQ(DecodeText(EncodeText(bytes, true)), bytes);
        std::string spaced;
        for (char c : text) {
            while (random() % 5 == 0) spaced.push_back(spaces[random() % 4]);
            spaced.push_back(c);
        }
        // White space after a pad makes the size rule over-count: zeros follow the bytes.
        const std::string decoded = DecodeText(spaced);
        ASSERT_GE(decoded.size(), bytes.size()) << spaced;
        ASSERT_EQ(decoded, bytes + std::string(decoded.size() - bytes.size(), '\0')) << spaced;
    }
}

}  // namespace
