// Writes the seed corpora of the fuzz targets into <folder>/<target>/: documents of the tests'
// sample objects in each format, and small texts for the other parsers.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <tavrin/tavrin.h>

#include "support/objects.h"

namespace {

void Put(const std::filesystem::path& folder, const char* name, const std::string& bytes) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
}

template <class Root>
void Documents(const std::filesystem::path& root, const char* name, const Root& value) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary(buffer).Write(value);
    Put(root / "binary", name,
        std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetCount()));
    std::ostringstream json;
    Tavrin::CWriterJson(json).Write(value);
    Put(root / "json", name, json.str());
    std::ostringstream xml;
    Tavrin::CWriterXml(xml).Write(value);
    Put(root / "xml", name, xml.str());
    Put(root / "xmlnode", name, xml.str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path root = argc > 1 ? argv[1] : "corpus";
    Documents(root, "kinds", TestSupport::Sample(1));
    Documents(root, "list", TestSupport::Samples(3));
    Put(root / "xmlnode", "mixed",
        "<?xml version=\"1.0\"?><a x=\"1\" y='&amp;'>t<![CDATA[<raw>]]><!-- c --><b/>u</a>");
    Put(root / "base64", "text", "TWFu\r\nTWE=\n TQ==");
    Put(root / "codepages", "ascii", std::string("\xE4\x04", 2) + "plain text");
    Put(root / "codepages", "sjis", std::string("\xA4\x03", 2) + "\x82\xA0\x82\xA2\x81");
    Put(root / "codepages", "utf8",
        std::string("\xE9\xFD", 2) + "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    Put(root / "text", "date", "2026-12-06T20:30:00");
    Put(root / "text", "number", "  -0x7fffFFFF");
    Put(root / "text", "float", "1.5e300");
    Put(root / "roundtrip", "binary", std::string("\x00\x00\x05\x03\x00\x01\x04\x05\x0c\x07", 10));
    Put(root / "roundtrip", "json",
        std::string("\x01\x01\x06\x01\x02\x04\x05\x11\x00\x0f\x05", 11));
    Put(root / "roundtrip", "xml", std::string("\x02\x00\x04\x02\x03\x04\x03\x00\x05\x01\x09", 11));
    return 0;
}
