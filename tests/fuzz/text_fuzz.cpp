// The text parsers of the foundation: date-time text and the variant's conversions of narrow and
// wide text to every kind.
#include <string>

#include <tavrin/tavrin.h>

namespace {

constexpr QvVariant::EKind kKinds[] = {
    QvVariant::KindBool,    QvVariant::KindInt8,    QvVariant::KindUInt8,   QvVariant::KindInt16,
    QvVariant::KindUInt16,  QvVariant::KindInt32,   QvVariant::KindUInt32,  QvVariant::KindInt64,
    QvVariant::KindUInt64,  QvVariant::KindFloat,   QvVariant::KindDouble,  QvVariant::KindChar,
    QvVariant::KindStringA, QvVariant::KindStringW, QvVariant::KindDateTime};

template <class Text>
void ConvertToEveryKind(const Text& text) {
    for (const QvVariant::EKind kind : kKinds) {
        try {
            QvVariant value(text);
            value.ConvertTo(kind);
        } catch (const IException&) {}
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (Logging::SetSink([](const Logging::SLogEntry&) {}), true);
    (void)quiet;
    const std::string narrow(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = Tavrin::Encodings::FromUTF8(narrow.c_str());

    for (const bool local : {false, true}) {
        try {
            const QvDateTime moment(std::string_view(narrow), local);
            (void)moment.ToFileTime();
        } catch (const IException&) {}
        try {
            const QvDateTime moment(std::wstring_view(wide), local);
            std::string iso;
            moment.AppendIso(iso);
        } catch (const IException&) {}
    }
    ConvertToEveryKind(narrow);
    ConvertToEveryKind(wide);
    return 0;
}
