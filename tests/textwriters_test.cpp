// What the two text writers promise beyond their documents: any output stream gives the bytes
// and the stream state of a string stream, and a thread's cancellation passes through Write.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#if defined(__SANITIZE_ADDRESS__)
#define TAVRIN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVRIN_TEST_ASAN 1
#endif
#endif

namespace {

using namespace Tavrin;

struct SSample : ISerializable {
    const char* GetClassName() const override { return "Test::Sample"; }
    void Write(IDataWriter& w) const override {
        w.Write("text", std::string("a<\"b\"&\n"));
        w.Write("wide", std::wstring(L"\u00e9\u20ac"));
        w.Write("count", -42);
        w.Write("ratio", 0.1);
        w.Write("small", 1.5f);
        w.Write("flag", true);
        const unsigned char bytes[] = {0, 1, 2, 250};
        w.Write("blob", sizeof bytes, bytes);
    }
    void Read(IDataReader&) override {}
};

template <class Writer>
void ExpectFileStreamLikeStringStream() {
    const SSample sample;
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

}  // namespace
