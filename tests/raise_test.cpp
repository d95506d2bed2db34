// The table of raising places: every entry raises the class, file, line and function it
// names, logs exactly one entry with its class's message, and reports a fixed source path.
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "core/basepool/raise.h"

namespace {

using Tavrin::Detail::EException;
using Tavrin::Detail::ERaise;
using Tavrin::Detail::kRaisingPlaces;
using Tavrin::Detail::SRaisingPlace;

// The function a family entry (no function text of its own) is raised with here.
constexpr const char* kFamilyFunction = "Family::Member";

bool HasClass(const IException& e, EException type) {
    switch (type) {
        case EException::Exception: return dynamic_cast<const Tavrin::CException*>(&e) != nullptr;
        case EException::Conversion:
            return dynamic_cast<const QvExceptionConversion*>(&e) != nullptr;
        case EException::Container: return dynamic_cast<const QvExceptionContainer*>(&e) != nullptr;
        case EException::Version:
            return dynamic_cast<const QvExceptionWrongFileVersion*>(&e) != nullptr;
    }
    return false;
}

const wchar_t* MessageOf(EException type) {
    switch (type) {
        case EException::Exception: return L"Exception";
        case EException::Conversion: return L"Exception on data conversion";
        case EException::Container: return L"Out of memory";
        case EException::Version: return L"Wrong file version on stream";
    }
    return L"";
}

}  // namespace

TEST(RaisingPlaces, EveryEntryRaisesWhatItNamesAndLogsOnce) {
    for (size_t i = 0; i < static_cast<size_t>(ERaise::Count); ++i) {
        const SRaisingPlace& place = kRaisingPlaces[i];
        const std::string function = place.function ? place.function : kFamilyFunction;
        SCOPED_TRACE("entry " + std::to_string(i) + ": " + place.file + ":" +
                     std::to_string(place.line) + " " + function);

        std::vector<Logging::SLogEntry> log;
        const Logging::LogSink previous =
            Logging::SetSink([&log](const Logging::SLogEntry& e) { log.push_back(e); });
        bool caught = false;
        try {
            Tavrin::Detail::Raise(static_cast<ERaise>(i),
                                  place.function ? nullptr : kFamilyFunction);
        } catch (const IException& e) {
            caught = true;
            EXPECT_TRUE(HasClass(e, place.type));
            EXPECT_STREQ(e.GetFilename(), place.file);
            EXPECT_EQ(e.GetCodeLine(), place.line);
            EXPECT_EQ(e.GetFunctionName(), function);
        }
        Logging::SetSink(previous);

        EXPECT_TRUE(caught);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].channel, L"Exception");
        EXPECT_EQ(log[0].message, MessageOf(place.type));
        EXPECT_EQ(log[0].file, place.file);
        EXPECT_EQ(log[0].line, static_cast<int>(place.line));
        EXPECT_EQ(log[0].function, function);
    }
}

// Sources move between folders; what an exception reports must not: a path below the source
// root, never the build machine's, and no two identifiers for the same raising place.
TEST(RaisingPlaces, FilesAreFixedSourcePathsAndPlacesAreDistinct) {
    std::set<std::tuple<std::string, unsigned int, std::string>> seen;
    for (const SRaisingPlace& place : kRaisingPlaces) {
        const std::string_view file = place.file;
        SCOPED_TRACE(std::string(file) + ":" + std::to_string(place.line));
        EXPECT_TRUE(file.starts_with("core/basepool/") || file.starts_with("core/tavrin/src/"));
        EXPECT_TRUE(file.ends_with(".cpp"));
        EXPECT_EQ(file.find(".."), std::string_view::npos);
        EXPECT_GT(place.line, 0u);
        if (place.function != nullptr) {
            EXPECT_NE(*place.function, '\0');
            EXPECT_TRUE(seen.emplace(place.file, place.line, place.function).second)
                << "two identifiers for " << place.function;
        }
    }
}
