#include <memory>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/raising.h"

namespace {

unsigned int ThreadIdOf(const IException& e) { return e.GetThreadID(); }

// Construction, fields and the one log entry of every class: raise_test.cpp.
TEST(Exceptions, LogExceptionWritesTheSameEntryAgain) {
    LogCapture log;
    const Tavrin::CException e("a.cpp", 7, "F");
    e.LogException();
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::tie(entries[1].channel, entries[1].message, entries[1].file, entries[1].line,
                       entries[1].function),
              std::tie(entries[0].channel, entries[0].message, entries[0].file, entries[0].line,
                       entries[0].function));
}

TEST(Exceptions, CopiesClonesAndAssignmentsKeepTheRaisingThreadAndDoNotLog) {
    Tavrin::CException original("file.cpp", 12, "Tavrin::X::Y");
    QvExceptionConversion conversion("c.cpp", 3, "conv");
    const Tavrin::CException empty("", 0, "");  // empty texts stay texts
    EXPECT_TRUE(*empty.GetFilename() == '\0' && *empty.GetFunctionName() == '\0');
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
        const Tavrin::CException& alias = assigned;
        assigned = alias;  // self-assignment keeps the fields
        EXPECT_STREQ(assigned.GetFilename(), "file.cpp");
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

TEST(Exceptions, FoundationClassesCloneToTheirOwnClassWithoutLogging) {
    const QvExceptionConversion conversion("q.cpp", 225, "QvDateTime::QvDateTime");
    const QvExceptionContainer container("p.cpp", 313, "getFreeElement");
    const QvExceptionWrongFileVersion version("s.cpp", 41, "ReadAndCompareVersion");
    LogCapture log;
    const IException& asInterface = conversion;
    std::unique_ptr<IException> clone = asInterface.Clone();
    EXPECT_NE(dynamic_cast<QvExceptionConversion*>(clone.get()), nullptr);
    EXPECT_EQ(dynamic_cast<Tavrin::CException*>(clone.get()), nullptr);
    EXPECT_EQ(clone->GetCodeLine(), 225u);
    EXPECT_NE(dynamic_cast<QvExceptionContainer*>(container.Clone().get()), nullptr);
    EXPECT_NE(dynamic_cast<QvExceptionWrongFileVersion*>(version.Clone().get()), nullptr);
    EXPECT_EQ(log.Count(), 0u);
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
