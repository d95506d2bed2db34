// The three document readers over outside bytes, each driven over everything the document holds.
// One source, three targets: FUZZ_FORMAT picks the reader.
#include <string>

#include "probe.h"

namespace {

// The class name an XML document is written for: the name of the first element after the
// declaration, with "-" standing for "::".
[[maybe_unused]] std::string DocumentClass(const std::string& text) {
    size_t at = text.find('<', text.compare(0, 2, "<?") == 0 ? text.find("?>") : 0);
    std::string name;
    while (at != std::string::npos && ++at < text.size() && text[at] != '>' && text[at] != ' ' &&
           text[at] != '/' && text[at] != '\t' && text[at] != '\n') {
        name += text[at];
    }
    for (size_t dash = name.find('-'); dash != std::string::npos; dash = name.find('-', dash)) {
        name.replace(dash, 1, "::");
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz::QuietLog();
#if FUZZ_FORMAT == 1
    try {
        QvStreamReadBinaryBuffer stream(data, size);
        const Tavrin::CReaderBinary reader(stream);
        Fuzz::ProbeDocument(reader);
    } catch (const IException&) {}
#else
    std::string text(reinterpret_cast<const char*>(data), size);
#if FUZZ_FORMAT == 2
    const Tavrin::CReaderJson reader(std::move(text));
    Fuzz::ProbeDocument(reader);
#else
    const std::string className = DocumentClass(text);
    const Tavrin::CReaderXml reader(std::move(text));
    Fuzz::ProbeDocument(reader, className.c_str());
#endif
#endif
    return 0;
}
