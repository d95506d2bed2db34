// What the two text formats promise beyond their documents: any output stream gives the bytes
// and the stream state of a string stream, a thread's cancellation passes through Write, and
// writing and reading run under the "C" locale whatever the thread's own.
#include <locale.h>
#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/formats.h"
#include "support/objects.h"
#if defined(_WIN32)
#include "../core/platform/threadlocale.h"
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TAVRIN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVRIN_TEST_ASAN 1
#endif
#endif

namespace {

using namespace Tavrin;

template <class Writer>
void ExpectFileStreamLikeStringStream() {
    const TestSupport::SKinds sample = TestSupport::Sample(1);  // every kind
    std::ostringstream text;
    text << "before ";
    Writer(text).Write(sample);

    const std::string path = ::testing::TempDir() + "textwriters_test.out";
    std::ofstream file(path, std::ios::binary);
    file << "before ";
    Writer(file).Write(sample);
    EXPECT_EQ(file.precision(), text.precision());
    EXPECT_EQ(file.flags(), text.flags());
    file.close();

    std::ifstream in(path, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(written, text.str());
    EXPECT_GT(written.size(), sizeof "before ");
    std::remove(path.c_str());
}

TEST(TextWriters, AnyOutputStreamGivesTheBytesAndStateOfAStringStream) {
    ExpectFileStreamLikeStringStream<CWriterJson>();
    ExpectFileStreamLikeStringStream<CWriterXml>();
}

// Thread cancellation is a POSIX threads matter: Windows has no cancellation that unwinds.
#if !defined(_WIN32)
// An object whose Write blocks until its thread is cancelled.
struct SBlocking : ISerializable {
    explicit SBlocking(std::atomic<bool>& flag) : entered(&flag) {}
    std::atomic<bool>* entered;
    const char* GetClassName() const override { return "Blocking"; }
    void Write(IDataWriter& w) const override {
        w.Write("before", 1);
        entered->store(true);
        for (;;) {
            pthread_testcancel();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void Read(IDataReader&) override {}
};

struct SCancelRun {
    bool xml;
    std::atomic<bool> entered{false};
    bool returned = false;
};

void* WriteUntilCancelled(void* arg) {
    auto& run = *static_cast<SCancelRun*>(arg);
    const SBlocking blocking(run.entered);
    std::ostringstream out;
    if (run.xml) {
        CWriterXml(out).Write(blocking);
    } else {
        CWriterJson(out).Write(blocking);
    }
    run.returned = true;
    return nullptr;
}

// The runtime aborts the process when a writer's catch-all swallows the forced unwind, so a
// writer that does so stops this program here.
TEST(TextWriters, ThreadCancellationPassesThroughWrite) {
#ifdef TAVRIN_TEST_ASAN
    // The cancellation's unwinding leaves stack redzones that AddressSanitizer then reports as
    // an overflow inside its own sigaltstack call, whatever the code under test does.
    GTEST_SKIP() << "thread cancellation is not supported under AddressSanitizer";
#endif
    for (const bool xml : {false, true}) {
        SCancelRun run{xml};
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, nullptr, WriteUntilCancelled, &run), 0);
        while (!run.entered.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(pthread_cancel(thread), 0);
        void* result = nullptr;
        ASSERT_EQ(pthread_join(thread, &result), 0);
        EXPECT_EQ(result, PTHREAD_CANCELED) << (xml ? "XML" : "JSON");
        EXPECT_FALSE(run.returned);
    }
}
#endif

template <class Format>
class TextFormat : public ::testing::Test {};
using TextFormats = ::testing::Types<TestSupport::SJsonFormat, TestSupport::SXmlFormat>;
TYPED_TEST_SUITE(TextFormat, TextFormats);

// The calling thread's locale, as the test sets and compares it: on Linux the locale object
// of uselocale, on Windows the C runtime's per-thread mode with the locale's name.
#if defined(_WIN32)
using Tavrin::Platform::ConfigThreadLocale;
struct SLocale {
    int mode;
    std::string name;
    bool operator==(const SLocale&) const = default;
};
SLocale CurrentLocale() {
    const char* name = setlocale(LC_ALL, nullptr);
    return {ConfigThreadLocale(0), name ? name : ""};
}
void UseLocale(const SLocale& locale) {
    ConfigThreadLocale(locale.mode);
    if (locale.mode == _ENABLE_PER_THREAD_LOCALE) setlocale(LC_ALL, locale.name.c_str());
}
// The process-wide locale, then the thread's own English and German locales where they exist.
std::vector<SLocale> LocaleModes() {
    std::vector<SLocale> modes = {{_DISABLE_PER_THREAD_LOCALE, CurrentLocale().name}};
    if (!Tavrin::Platform::HasPerThreadLocale()) return modes;
    std::thread([&] {
        ConfigThreadLocale(_ENABLE_PER_THREAD_LOCALE);
        for (const char* name : {"English_United States.1252", "German_Germany.1252"}) {
            if (const char* set = setlocale(LC_ALL, name)) {
                modes.push_back({_ENABLE_PER_THREAD_LOCALE, set});
            }
        }
    }).join();
    return modes;
}
void ReleaseLocales(const std::vector<SLocale>&) {}
// Why the test cannot run.
const char* const kNoLocales =
    Tavrin::Platform::HasPerThreadLocale()
        ? "locale German_Germany.1252 is not installed"
        : "the C runtime has no per-thread locales (_configthreadlocale)";
#else
using SLocale = locale_t;
SLocale CurrentLocale() { return uselocale(static_cast<locale_t>(nullptr)); }
void UseLocale(SLocale locale) { uselocale(locale); }
// Not plain "C": glibc hands out its one static "C" object, which the switch itself uses.
std::vector<SLocale> LocaleModes() {
    std::vector<SLocale> modes = {LC_GLOBAL_LOCALE};
    for (const char* name : {"C.UTF-8", "de_DE.UTF-8"}) {
        const locale_t own = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (own != static_cast<locale_t>(nullptr)) modes.push_back(own);
    }
    return modes;
}
void ReleaseLocales(const std::vector<SLocale>& modes) {
    for (size_t i = 1; i < modes.size(); ++i) freelocale(modes[i]);
}
constexpr const char* kNoLocales = "locale de_DE.UTF-8 is not installed";
#endif

// Under a thread locale with a decimal comma, or the global-locale mode, the documents are those
// of the "C" locale; the thread has its own locale back on every exit: after success, a failing
// Write, a damaged document, a failing conversion and an application Read that throws.
TYPED_TEST(TextFormat, CLocaleDuringTheCallThreadLocaleOnEveryExit) {
    using TestSupport::CContainer, TestSupport::CObject, TestSupport::ReadAs;
    const std::vector<SLocale> modes = LocaleModes();
    if (modes.size() < 3) GTEST_SKIP() << kNoLocales;
    std::thread([&] {
        std::string first;
        for (const SLocale& mode : modes) {
            UseLocale(mode);
            SLocale during = mode;
            std::string points;
            CObject object([&](IDataWriter& w) {
                during = CurrentLocale(), points = localeconv()->decimal_point;
                w.Write("d", 1.5), w.Write("f", 0.25f), w.Write("i", 1234567);
                w.Write("s", std::string("x"));
            });
            object.read = [&](IDataReader& r) {
                during = CurrentLocale(), points += localeconv()->decimal_point;
                EXPECT_TRUE(ReadAs<double>(r, "d") == 1.5 && ReadAs<float>(r, "f") == 0.25f);
            };
            const auto doc = TypeParam::Write(object);
            EXPECT_NE(during, mode);  // switched for the call
            EXPECT_EQ(CurrentLocale(), mode);
            during = mode;
            TypeParam::Read(doc, object);
            EXPECT_NE(during, mode);
            EXPECT_EQ(CurrentLocale(), mode);
            EXPECT_EQ(points, "..");
            EXPECT_EQ(doc, first.empty() ? first = doc : first);

            object.write = [](IDataWriter&) { throw 1; };
            EXPECT_THROW(TypeParam::Write(object), CException);
            EXPECT_EQ(CurrentLocale(), mode);
            object.read = [](IDataReader& r) {
                double d = 0;
                r.Read("s", d);
            };
            EXPECT_THROW(TypeParam::Read(doc, object), QvExceptionConversion);
            EXPECT_EQ(CurrentLocale(), mode);
            object.read = {};
            try {  // JSON raises, XML reads nothing
                TypeParam::Read(doc.substr(0, doc.size() / 2), object);
            } catch (const CException&) {}
            EXPECT_EQ(CurrentLocale(), mode);
            CContainer list;
            list.read = [](IContainerReader&) { throw std::runtime_error("application"); };
            EXPECT_THROW(TypeParam::Read(TypeParam::Write(list), list), std::runtime_error);
            EXPECT_EQ(CurrentLocale(), mode);
        }
        UseLocale(modes[0]);
    }).join();
    ReleaseLocales(modes);
}

// Regression: a reader made from `stream.str()` kept a pointer into the destroyed temporary.
TYPED_TEST(TextFormat, ReaderMadeFromATemporaryKeepsItsText) {
    using TestSupport::ReadAs;
    TestSupport::CObject object(
        [](IDataWriter& w) { w.Write("id", 7), w.Write("name", std::string(100, 'x')); });
    object.read = [](IDataReader& r) {
        EXPECT_EQ(ReadAs<int>(r, "id"), 7);
        EXPECT_EQ(ReadAs<std::string>(r, "name"), std::string(100, 'x'));
    };
    std::ostringstream out(TypeParam::Write(object));
    const typename TypeParam::Reader reader(out.str());
    const typename TypeParam::Reader copy = reader;
    out.str("{}");
    copy.Read(object);
    EXPECT_EQ(object.reads, 1);
}

}  // namespace
