#include <thread>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/raising.h"

namespace {

unsigned int ThreadIdOf(const IException& e) { return e.GetThreadID(); }

TEST(Exceptions, ConstructionStoresFieldsAndLogsOnce) {
    LogCapture log;
    Tavrin::CException e("a.cpp", 7, "F");
    EXPECT_STREQ(e.GetFilename(), "a.cpp");
    EXPECT_EQ(e.GetCodeLine(), 7u);
    EXPECT_STREQ(e.GetFunctionName(), "F");
    ASSERT_EQ(log.Count(), 1u);
    const auto entry = log.Entries()[0];
    EXPECT_EQ(entry.channel, L"Exception");
    EXPECT_EQ(entry.message, L"Exception");
    EXPECT_EQ(entry.file, "a.cpp");
    EXPECT_EQ(entry.line, 7);
    EXPECT_EQ(entry.function, "F");

    e.LogException();
    ASSERT_EQ(log.Count(), 2u);
    const auto again = log.Entries()[1];
    EXPECT_EQ(again.channel, entry.channel);
    EXPECT_EQ(again.message, entry.message);
    EXPECT_EQ(again.file, entry.file);
    EXPECT_EQ(again.line, entry.line);
    EXPECT_EQ(again.function, entry.function);
}

TEST(Exceptions, CopiesClonesAndAssignmentsKeepTheRaisingThreadAndDoNotLog) {
    Tavrin::CException original("file.cpp", 12, "Tavrin::X::Y");
    QvExceptionConversion conversion("c.cpp", 3, "conv");
    LogCapture log;
    unsigned int seenCopy = 0, seenClone = 0, seenAssigned = 0, seenQvClone = 0, seenQvAssigned = 0;
    unsigned int otherThread = 0;
    std::thread t([&] {
        Tavrin::CException copy(original);
        seenCopy = copy.GetThreadID();
        seenClone = ThreadIdOf(*original.Clone());
        Tavrin::CException assigned("other.cpp", 1, "G");  // logs once, on this thread
        otherThread = assigned.GetThreadID();
        assigned = original;
        seenAssigned = assigned.GetThreadID();
        EXPECT_STREQ(assigned.GetFilename(), "file.cpp");
        EXPECT_EQ(assigned.GetCodeLine(), 12u);
        seenQvClone = ThreadIdOf(*conversion.Clone());
        QvExceptionConversion assignedQv("other.cpp", 2, "H");  // logs once, on this thread
        assignedQv = conversion;
        seenQvAssigned = assignedQv.GetThreadID();
        EXPECT_STREQ(assignedQv.GetFunctionName(), "conv");
        EXPECT_EQ(assignedQv.GetCodeLine(), 3u);
    });
    t.join();
    EXPECT_NE(otherThread, original.GetThreadID());
    EXPECT_EQ(seenCopy, original.GetThreadID());
    EXPECT_EQ(seenClone, original.GetThreadID());
    EXPECT_EQ(seenAssigned, original.GetThreadID());
    EXPECT_EQ(seenQvClone, conversion.GetThreadID());
    EXPECT_EQ(seenQvAssigned, conversion.GetThreadID());
    EXPECT_EQ(log.Count(), 2u);  // only the constructions of `assigned` and `assignedQv`
}

TEST(Exceptions, SelfAssignmentAndEmptyTexts) {
    Tavrin::CException e("", 0, "");
    EXPECT_STREQ(e.GetFilename(), "");
    EXPECT_STREQ(e.GetFunctionName(), "");
    Tavrin::CException& alias = e;
    e = alias;
    EXPECT_STREQ(e.GetFilename(), "");
    EXPECT_EQ(e.GetCodeLine(), 0u);
}

TEST(Exceptions, FoundationClassesLogTheirOwnMessageAndCloneToTheirOwnClass) {
    LogCapture log;
    const QvExceptionConversion conversion("q.cpp", 225, "QvDateTime::QvDateTime");
    const QvExceptionContainer container("p.cpp", 313, "getFreeElement");
    const QvExceptionWrongFileVersion version("s.cpp", 41, "ReadAndCompareVersion");
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].message, L"Exception on data conversion");
    EXPECT_EQ(entries[1].message, L"Out of memory");
    EXPECT_EQ(entries[2].message, L"Wrong file version on stream");
    for (const auto& entry : entries) EXPECT_EQ(entry.channel, L"Exception");

    const IException& asInterface = conversion;
    std::unique_ptr<IException> clone = asInterface.Clone();
    EXPECT_NE(dynamic_cast<QvExceptionConversion*>(clone.get()), nullptr);
    EXPECT_EQ(dynamic_cast<Tavrin::CException*>(clone.get()), nullptr);
    EXPECT_EQ(clone->GetCodeLine(), 225u);
    EXPECT_NE(dynamic_cast<QvExceptionContainer*>(container.Clone().get()), nullptr);
    EXPECT_NE(dynamic_cast<QvExceptionWrongFileVersion*>(version.Clone().get()), nullptr);
    EXPECT_EQ(log.Count(), 3u);
}

TEST(Exceptions, CaughtAsInterface) {
    try {
        throw QvExceptionWrongFileVersion("f", 41, "QvStreamRead::ReadAndCompareVersion");
    } catch (const IException& e) {
        EXPECT_STREQ(e.GetFunctionName(), "QvStreamRead::ReadAndCompareVersion");
        return;
    }
    FAIL() << "not caught as IException";
}

TEST(Logging, EmptySinkDiscardsAndSetSinkReturnsThePrevious) {
    LogCapture outer;
    Logging::LogSink previous = Logging::SetSink({});
    Tavrin::CException discarded("x", 1, "y");
    EXPECT_EQ(outer.Count(), 0u);
    Logging::SetSink(std::move(previous));
    Tavrin::CException kept("x", 1, "y");
    EXPECT_EQ(outer.Count(), 1u);
}

}  // namespace
