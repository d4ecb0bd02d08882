#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/sys/Syscall.h"

using platform::sys::Call;
using platform::sys::Outcome;
using platform::sys::Whole;

TEST(SyscallTest, RetriesEintrAndNothingElse) {
    struct Case {
        const char* name;
        std::vector<int> errnos;  // errno of each failing attempt before the last
        int lastResult;
        int lastErrno;
        int attempts;
        bool failed;
    };
    const Case cases[] = {
        {"succeeds at once", {}, 7, 0, 1, false},
        {"EINTR twice then data", {EINTR, EINTR}, 3, 0, 3, false},
        {"EINTR then a real failure", {EINTR}, -1, EIO, 2, true},
        {"EAGAIN is the caller's", {}, -1, EAGAIN, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int attempts = 0;
        const Outcome o = Call("read", [&] {
            const size_t i = static_cast<size_t>(attempts++);
            if (i < c.errnos.size()) {
                errno = c.errnos[i];
                return -1;
            }
            errno = c.lastErrno;
            return c.lastResult;
        });
        EXPECT_EQ(attempts, c.attempts);
        EXPECT_EQ(o.Failed(), c.failed);
        EXPECT_EQ(o.error, c.failed ? c.lastErrno : 0);
    }
}

TEST(SyscallTest, AFailureNamesTheCallAndItsError) {
    const Outcome o = Call("close", [] { return ::close(-1); });
    ASSERT_TRUE(o.Failed());
    EXPECT_EQ(o.error, EBADF);
    EXPECT_EQ(o.Describe(), "close: Bad file descriptor");
    EXPECT_EQ(Call("getpid", [] { return ::getpid(); }).Describe(), "");
}

TEST(SyscallTest, WholeMovesEveryByteInShortSteps) {
    std::vector<size_t> offsets;
    const Outcome all = Whole("write", 10, [&](size_t done) {
        offsets.push_back(done);
        return 4L;  // at most 4 a step, as a full pipe would take them
    });
    EXPECT_EQ(all.result, 10);
    EXPECT_EQ(offsets, (std::vector<size_t>{0, 4, 8}));

    const Outcome ended = Whole("read", 10, [](size_t done) { return done == 0 ? 6L : 0L; });
    EXPECT_TRUE(ended.Failed());
    EXPECT_EQ(ended.error, 0);
    EXPECT_EQ(ended.Describe(), "read: nothing moved");
}

TEST(SyscallTest, ReadAllAndWriteAllCrossAPipe) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string text = "CTP frames cross whole";
    EXPECT_FALSE(platform::sys::WriteAll(fds[1], text.data(), text.size()).Failed());
    std::string back(text.size(), '\0');
    EXPECT_FALSE(platform::sys::ReadAll(fds[0], back.data(), back.size()).Failed());
    EXPECT_EQ(back, text);
    ::close(fds[1]);
    char more = 0;
    EXPECT_TRUE(platform::sys::ReadAll(fds[0], &more, 1).Failed());  // end of file
    ::close(fds[0]);
}

// A close that fails is told on standard error; one that succeeds says nothing,
// and the descriptor is gone either way.
TEST(SyscallTest, CloseReportsAFailureAndNothingElse) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[1]);

    testing::internal::CaptureStderr();
    platform::sys::Close(fds[0], "closing the test pipe");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);

    // Not fds[0] again: the capture's own file may have taken its number.
    testing::internal::CaptureStderr();
    platform::sys::Close(-1, "closing the test pipe again");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "camora: closing the test pipe again: close: Bad file descriptor\n");
}
