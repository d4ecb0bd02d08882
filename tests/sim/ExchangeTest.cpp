// The simulator through its wire: literal request bytes in, literal answer
// bytes out, and the camera's behaviour as the handset sees it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "sim/Camcorder.h"
#include "sim/TestPicture.h"
#include "testkit/TempDeviceRoot.h"
#include "tests/sim/SimClient.h"

namespace {

using simtest::Bytes;
using simtest::Concat;
using simtest::kPatience;
using simtest::SimClient;
using simtest::Text;
using namespace std::chrono_literals;

class SimExchange : public simtest::SimTest {
protected:
    // Operating state as the camera reports it on the wire.
    uint8_t ReportedState() {
        const Bytes answer = client->Exchange({0x00, 0x01, 0x00, 0x06, 0x11, 0x01});
        return answer.size() == 14 ? answer[7] : 0xFF;
    }
};

struct LiteralCase {
    const char* name;
    sim::CameraStatus status;
    Bytes request;
    Bytes answer;
};

TEST_F(SimExchange, AnswersRequestsWithTheLiteralBytesOfACamera) {
    const sim::CameraStatus idle{};  // mode 0, standby, mains, battery, level 5
    const sim::CameraStatus busy{2, 1, 1, 0, 0x1234, 5, 0};
    const LiteralCase cases[] = {
        {"mode query",
         busy,
         {0x00, 0x01, 0x00, 0x06, 0x11, 0x01},
         {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x02, 0x01, 0x01, 0x00, 0x12, 0x34, 0x05, 0x00}},
        {"mode query on channel 3 is answered on 3",
         idle,
         {0x00, 0x03, 0x00, 0x06, 0x11, 0x01},
         {0x00, 0x03, 0x00, 0x0E, 0x21, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x05, 0x00}},
        {"zoom W key",
         idle,
         {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x06, 0x00, 0x00},
         {0x00, 0x03, 0x00, 0x08, 0x20, 0x01, 0x00, 0x00}},
        {"a key code that is no key",
         idle,
         {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x09, 0x00, 0x00},
         {0x00, 0x03, 0x00, 0x08, 0x20, 0x01, 0x00, 0x01}},
        {"block 3 of no picture",
         idle,
         {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, 0x03},
         {0x00, 0x04, 0x00, 0x08, 0x21, 0x03, 0x00, 0x03}},
        {"size of no picture",
         idle,
         {0x00, 0x04, 0x00, 0x06, 0x11, 0x04},
         {0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"empty GPS sentence",
         idle,
         Concat({{0x00, 0x02, 0x00, 0x1C, 0x10, 0x02}, Text("$GPGGA,,,,,,0,,,,,,,\r\n")}),
         {0x00, 0x02, 0x00, 0x08, 0x20, 0x02, 0x00, 0x00}},
        {"GPS on",
         idle,
         {0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x00, 0x00, 0x00},
         {0x00, 0x02, 0x00, 0x08, 0x20, 0x02, 0x00, 0x00}},
        {"GPS off",
         idle,
         {0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x01, 0x00, 0x00},
         {0x00, 0x02, 0x00, 0x08, 0x20, 0x02, 0x00, 0x00}},
        {"capture refused in video recording",
         idle,
         {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x02, 0x00, 0x00},
         {0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x01}},
        {"live view refused in still playback",
         {3, 0, 1, 1, 0, 5, 0},
         {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x00, 0x03, 0x00},
         {0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x01}},
        {"live view refused in quick-start standby",
         {0, 2, 1, 1, 0, 5, 0},
         {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x00, 0x00, 0x02},
         {0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x01}},
        {"end of live view",
         idle,
         {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x01, 0x00, 0x00},
         {0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x00}},
        {"an opcode outside the table is echoed",
         idle,
         {0x00, 0x01, 0x00, 0x06, 0x10, 0x06},
         {0x00, 0x01, 0x00, 0x06, 0x10, 0x06}},
        {"a camera's own answer sent to it is unknown",
         idle,
         {0x00, 0x01, 0x00, 0x06, 0x21, 0x01},
         {0x00, 0x01, 0x00, 0x06, 0x21, 0x01}},
        {"a block request without its block number",
         idle,
         {0x00, 0x04, 0x00, 0x06, 0x11, 0x03},
         {0x00, 0x04, 0x00, 0x06, 0x11, 0x03}},
    };
    for (const LiteralCase& c : cases) {
        SCOPED_TRACE(c.name);
        cam.SetStatus(c.status);
        EXPECT_EQ(client->Exchange(c.request), c.answer);
    }
    // Every request is in the record, byte for byte, in order.
    const auto frames = cam.ReceivedFrames();
    ASSERT_EQ(frames.size(), std::size(cases));
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].bytes, cases[i].request) << cases[i].name;
    }
    EXPECT_EQ(cam.UnknownRequests().size(), 3u);
    EXPECT_EQ(cam.GpsSentences(), std::vector<std::string>{"$GPGGA,,,,,,0,,,,,,,\r\n"});
    EXPECT_EQ(cam.Keys(), (std::vector<uint16_t>{6, 9}));
}

TEST_F(SimExchange, RecordsErrorReportsWithoutAnswering) {
    client->Send({0x00, 0x04, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01});
    client->Send({0x00, 0x03, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01});
    // Had the reports been answered, those answers would come first.
    EXPECT_EQ(client->Exchange({0x00, 0x01, 0x00, 0x06, 0x11, 0x01}).at(4), 0x21);
    const auto reports = cam.ErrorReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].channel, 4);
    EXPECT_EQ(reports[0].param, 1);
    EXPECT_EQ(reports[1].channel, 3);
}

TEST_F(SimExchange, AnswersFramesThatArriveBackToBackInOrder) {
    const Bytes getMode = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
    const Bytes info = {0x00, 0x04, 0x00, 0x06, 0x11, 0x04};
    const Bytes key = {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x02, 0x00, 0x00};
    client->Send(Concat({getMode, info, key}));
    EXPECT_EQ(client->ReadFrame().at(1), 1);
    EXPECT_EQ(client->ReadFrame().at(1), 4);
    EXPECT_EQ(client->ReadFrame(), (Bytes{0x00, 0x03, 0x00, 0x08, 0x20, 0x01, 0x00, 0x00}));
    ASSERT_TRUE(cam.WaitForFrames(3, kPatience));
    EXPECT_EQ(cam.ReceivedFrames()[2].bytes, key);
}

TEST_F(SimExchange, RecordKeyStartsAndStopsShootingOnlyInRecordingModes) {
    const Bytes record = {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00};
    struct Step {
        uint8_t mode;
        uint8_t before;
        uint8_t after;
    };
    const Step steps[] = {{0, 0, 1}, {0, 1, 0}, {2, 0, 1}, {2, 1, 0},
                          {1, 0, 0}, {3, 0, 0}, {0, 2, 1}};
    cam.SetPressGapMs(0);  // each exchange here is a press of its own
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "mode " << int{s.mode} << " state " << int{s.before});
        cam.SetMode(s.mode);
        cam.SetOperationState(s.before);
        EXPECT_EQ(client->Exchange(record), (Bytes{0x00, 0x03, 0x00, 0x08, 0x20, 0x01, 0, 0}));
        EXPECT_EQ(ReportedState(), s.after);
    }
}

TEST_F(SimExchange, ModeQueryIsAnsweredAtOnceWhatEverThePollPace) {
    cam.SetModePollInterval(60'000);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(client->Exchange({0x00, 0x01, 0x00, 0x06, 0x11, 0x01}).size(), 14u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPatience);
}

TEST_F(SimExchange, ModePollsAreAnsweredAtTheCamerasPace) {
    constexpr uint32_t kPaceMs = 300;
    cam.SetModePollInterval(kPaceMs);
    const Bytes poll = {0x00, 0x01, 0x00, 0x06, 0x11, 0x02};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(client->Exchange(poll).size(), 14u);
    }
    const auto sent = cam.SentFrames();
    ASSERT_EQ(sent.size(), 3u);
    // The first poll had no answer before it; the others wait for the pace.
    EXPECT_GE(sent[1].atMs - sent[0].atMs, kPaceMs);
    EXPECT_GE(sent[2].atMs - sent[1].atMs, kPaceMs);
    EXPECT_LT(sent[2].atMs - sent[1].atMs, kPaceMs + 2000);
}

TEST_F(SimExchange, AWaitingModePollIsAnsweredAsSoonAsTheStatusChanges) {
    cam.SetModePollInterval(60'000);
    const Bytes poll = {0x00, 0x01, 0x00, 0x06, 0x11, 0x02};
    ASSERT_EQ(client->Exchange(poll).size(), 14u);  // the first is answered at once

    client->Send(poll);
    ASSERT_TRUE(cam.WaitForFrames(2, kPatience));
    cam.SetBatteryLevel(2);
    const Bytes answer = client->ReadFrame();
    EXPECT_EQ(answer, (Bytes{0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                             0x02, 0x00}));

    // A change the camera makes itself (the record key) releases a poll as well.
    client->Send(poll);
    ASSERT_TRUE(cam.WaitForFrames(3, kPatience));
    EXPECT_EQ(client->Exchange({0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00}).at(1),
              1);  // the poll's answer, with the new state, overtakes the key's
    EXPECT_EQ(client->ReadFrame().at(1), 3);
}

// Fetches the held picture as the handset does: size, then block by block.
struct Fetched {
    uint32_t announced = 0;
    uint16_t count = 0;
    std::vector<size_t> blockBytes;
    Bytes jpeg;
};

Fetched FetchPicture(const SimClient& client) {
    Fetched f;
    const Bytes info = client.Exchange({0x00, 0x04, 0x00, 0x06, 0x11, 0x04});
    if (info.size() != 12 || info[4] != 0x21 || info[5] != 0x04) {
        ADD_FAILURE() << "no data info";
        return f;
    }
    f.announced =
        (uint32_t{info[6]} << 24) | (uint32_t{info[7]} << 16) | (uint32_t{info[8]} << 8) | info[9];
    f.count = static_cast<uint16_t>((info[10] << 8) | info[11]);
    const uint32_t blocks = (f.announced + 10239) / 10240;
    for (uint32_t n = 1; n <= blocks + 1; ++n) {  // one past the end, too
        const Bytes block =
            client.Exchange({0x00, 0x04, 0x00, 0x08, 0x11, 0x03, static_cast<uint8_t>(n >> 8),
                             static_cast<uint8_t>(n)});
        if (block.size() < 8) {
            ADD_FAILURE() << "block " << n << " did not come";
            return f;
        }
        EXPECT_EQ(Bytes(block.begin(), block.begin() + 6),
                  (Bytes{0x00, 0x04, block[2], block[3], 0x21, 0x03}));
        EXPECT_EQ((block[6] << 8) | block[7], static_cast<int>(n));
        EXPECT_EQ((size_t{block[2]} << 8 | block[3]), block.size());
        if (n <= blocks) {
            f.blockBytes.push_back(block.size() - 8);
            f.jpeg.insert(f.jpeg.end(), block.begin() + 8, block.end());
        } else {
            EXPECT_EQ(block.size(), 8u) << "a block past the end holds nothing";
        }
    }
    return f;
}

void ExpectPictureOfBlocks(const Fetched& f, int width, int height) {
    ASSERT_GT(f.announced, 0u);
    EXPECT_EQ(f.count, 1);
    EXPECT_EQ(f.jpeg.size(), f.announced);
    ASSERT_EQ(f.blockBytes.size(), (f.announced + 10239) / 10240);
    for (size_t i = 0; i + 1 < f.blockBytes.size(); ++i) {
        EXPECT_EQ(f.blockBytes[i], 10240u);
    }
    const sim::JpegSize size = sim::CheckJpeg(f.jpeg);
    EXPECT_EQ(size.width, width);
    EXPECT_EQ(size.height, height);
}

TEST_F(SimExchange, LiveViewFramesAreFreshJpegsInBlocks) {
    const Bytes start = {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00};
    const Bytes accepted = {0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x00};
    ASSERT_EQ(client->Exchange(start), accepted);
    const Fetched first = FetchPicture(*client);
    ExpectPictureOfBlocks(first, 320, 180);
    EXPECT_LT(first.announced, 20'000u) << "a live-view frame is a few kilobytes";

    // At the highest quality the frame needs more than one block.
    cam.SetJpegQuality(100);
    ASSERT_EQ(client->Exchange(start), accepted);
    const Fetched second = FetchPicture(*client);
    ExpectPictureOfBlocks(second, 320, 180);
    EXPECT_GE(second.blockBytes.size(), 2u);
    EXPECT_NE(first.jpeg, second.jpeg);
    EXPECT_EQ(cam.LiveViewFrames(), 2u);

    ASSERT_EQ(client->Exchange({0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x01, 0x00, 0x00}),
              accepted);
    EXPECT_EQ(client->Exchange({0x00, 0x04, 0x00, 0x06, 0x11, 0x04}),
              (Bytes{0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0, 0, 0, 0, 0, 0}));
}

TEST_F(SimExchange, ConsecutiveLiveViewFramesDiffer) {
    const Bytes start = {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(client->Exchange(start).at(7), 0);
    const Bytes a = cam.HeldImage();
    ASSERT_EQ(client->Exchange(start).at(7), 0);
    const Bytes b = cam.HeldImage();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);  // the frame counter moved on
}

TEST_F(SimExchange, CaptureGivesALargerStillInPlaybackModes) {
    for (const uint8_t mode : {1, 3}) {
        SCOPED_TRACE(testing::Message() << "mode " << int{mode});
        cam.SetMode(mode);
        ASSERT_EQ(client->Exchange({0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x02, mode, 0x00}),
                  (Bytes{0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x00}));
        const Fetched still = FetchPicture(*client);
        ExpectPictureOfBlocks(still, 640, 480);
        EXPECT_GE(still.blockBytes.size(), 2u);
        ASSERT_EQ(client->Exchange({0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x03, mode, 0x00}),
                  (Bytes{0x00, 0x04, 0x00, 0x08, 0x20, 0x01, 0x00, 0x00}));
        EXPECT_TRUE(cam.HeldImage().empty());
    }
    // Refused in recording modes and in quick-start standby, and nothing is held.
    for (const auto& [mode, state] : {std::pair<uint8_t, uint8_t>{0, 0}, {2, 1}, {3, 2}}) {
        cam.SetMode(mode);
        cam.SetOperationState(state);
        EXPECT_EQ(
            client->Exchange({0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x02, mode, state}).at(7),
            1);
        EXPECT_TRUE(cam.HeldImage().empty());
    }
}

TEST_F(SimExchange, GpsAnswersFollowTheScript) {
    const Bytes on = {0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x00, 0x00, 0x00};
    const Bytes sentence = Concat({{0x00, 0x02, 0x00, 0x3F, 0x10, 0x02},
                                   Text("$GPGGA,010203.004,3530.000000,N,13915.000000,W,1,,,,,,,"
                                        "\r\n")});
    ASSERT_EQ(sentence.size(), 63u);
    auto status = [](uint8_t s) { return Bytes{0x00, 0x02, 0x00, 0x08, 0x20, 0x02, 0x00, s}; };

    cam.QueueGpsCommandStatuses({3});
    EXPECT_EQ(client->Exchange(on), status(3));
    EXPECT_FALSE(cam.GpsFeedOn());
    EXPECT_EQ(client->Exchange(on), status(0));  // the queue is used up: the default again
    EXPECT_TRUE(cam.GpsFeedOn());

    cam.QueueGpsSentenceStatuses({0, 2});
    EXPECT_EQ(client->Exchange(sentence), status(0));
    EXPECT_EQ(client->Exchange(sentence), status(2));
    EXPECT_FALSE(cam.GpsFeedOn());
    const auto sentences = cam.GpsSentences();
    ASSERT_EQ(sentences.size(), 2u);
    EXPECT_EQ(sentences[0], "$GPGGA,010203.004,3530.000000,N,13915.000000,W,1,,,,,,,\r\n");

    cam.SetGpsCommandStatus(5);
    EXPECT_EQ(client->Exchange(on), status(5));
    EXPECT_EQ(client->Exchange({0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x01, 0x00, 0x00}),
              status(0));  // switching off is always accepted
}

TEST_F(SimExchange, UnsolicitedFramesGoOutAsGiven) {
    cam.SendFrame(2, sim::CTP_2005, Bytes{0x00, 0x07, 0x00, 0x08});
    EXPECT_EQ(client->ReadFrame(), (Bytes{0x00, 0x02, 0x00, 0x0A, 0x20, 0x05, 0, 7, 0, 8}));
    cam.SendRaw(Bytes{0x01, 0x02, 0x03});
    EXPECT_EQ(client->Read(3), (Bytes{0x01, 0x02, 0x03}));
}

TEST(SimRecord, KeepsTheLatestSentFramesWithinItsLimit) {
    sim::Options options;
    options.sentRecordBytes = 100;
    sim::Camcorder cam(options);
    ASSERT_TRUE(cam.Start());
    SimClient client(cam.SlavePath());
    for (int i = 0; i < 20; ++i) {
        cam.SetBatteryLevel(static_cast<uint8_t>(i));
        ASSERT_EQ(client.Exchange({0x00, 0x01, 0x00, 0x06, 0x11, 0x01}).size(), 14u);
    }
    const auto sent = cam.SentFrames();
    EXPECT_EQ(sent.size(), 100u / 14);
    EXPECT_EQ(sent.back().bytes.at(12), 19) << "the latest answer is kept";
    EXPECT_EQ(cam.ReceivedFrames().size(), 20u) << "the received record has no limit";
}

TEST(SimLink, ServesAnyDescriptorAndNoticesItsEnd) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    sim::Options options;
    options.fd = pair[0];
    sim::Camcorder cam(options);
    ASSERT_TRUE(cam.Start());
    EXPECT_TRUE(cam.SlavePath().empty());
    EXPECT_FALSE(cam.LinkAs("/nonexistent/link"));
    const uint8_t request[] = {0x00, 0x04, 0x00, 0x06, 0x11, 0x04};
    ASSERT_EQ(::write(pair[1], request, sizeof request), 6);
    uint8_t answer[12] = {};
    size_t got = 0;
    while (got < sizeof answer) {
        const ssize_t n = ::read(pair[1], answer + got, sizeof answer - got);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    EXPECT_EQ(Bytes(answer, answer + 12),
              (Bytes{0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0, 0, 0, 0, 0, 0}));
    ::close(pair[1]);
    EXPECT_TRUE(cam.WaitFor([&] { return !cam.LinkUp(); }, kPatience));
}

TEST(SimLink, LinksTheLineWhereTheProgramLooksAndRemovesItAtStop) {
    testsupport::TempDeviceRoot root;
    const std::string link = root.Host("dev/COM4");
    {
        sim::Camcorder cam;
        ASSERT_TRUE(cam.Start());
        ASSERT_TRUE(cam.LinkAsDevice("COM4"));
        const Bytes getMode = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
        {
            SimClient first(link);
            EXPECT_EQ(first.Exchange(getMode).size(), 14u);
        }
        // The program may close the port and open it again.
        SimClient second(link);
        EXPECT_EQ(second.Exchange(getMode).size(), 14u);
        EXPECT_TRUE(cam.LinkUp());
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

}  // namespace
