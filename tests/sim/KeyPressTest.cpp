// The simulated camera acts once per key press, however often the handset
// repeats a held key, and on every repeat of zoom.
#include <gtest/gtest.h>

#include <vector>

#include "sim/CameraModel.h"
#include "sim/Wire.h"

namespace {

struct Arrival {
    uint16_t key;
    uint64_t atMs;
};

struct PressCase {
    const char* name;
    uint8_t mode;
    std::vector<Arrival> arrivals;
    std::vector<uint16_t> presses;
    uint8_t stateAfter;
};

std::vector<uint8_t> KeyFrame(uint16_t key) {
    std::vector<uint8_t> body;
    sim::PutU16(body, key);
    body.push_back(0);
    body.push_back(0);
    return sim::EncodeFrame(3, sim::CTP_CAMCMD, body);
}

TEST(SimKeyPresses, ABurstOfOneKeyIsOnePressExceptZoom) {
    const PressCase cases[] = {
        {"a held record key repeated every round trip starts shooting once",
         0,
         {{0, 1000}, {0, 1040}, {0, 1080}, {0, 1120}},
         {0},
         1},
        {"two taps with a pause between them start and stop",
         0,
         {{0, 1000}, {0, 1040}, {0, 1400}, {0, 1440}},
         {0, 0},
         0},
        {"a gap of the press gap itself begins a new press",
         2,
         {{0, 1000}, {0, 1000 + sim::CameraModel::kPressGapMs}},
         {0, 0},
         0},
        {"repeats slower than a round trip but inside the gap are one press",
         0,
         {{0, 1000}, {0, 1140}, {0, 1280}, {0, 1420}},
         {0},
         1},
        {"another key between two record keys ends the first press",
         0,
         {{0, 1000}, {1, 1040}, {0, 1080}},
         {0, 1, 0},
         0},
        {"pause, snapshot and the playback keys act once per burst",
         1,
         {{1, 0},
          {1, 40},
          {8, 80},
          {8, 120},
          {3, 160},
          {3, 200},
          {4, 240},
          {4, 280},
          {5, 320},
          {5, 360},
          {7, 400},
          {7, 440}},
         {1, 8, 3, 4, 5, 7},
         0},
        {"zoom acts on every repeat",
         0,
         {{2, 0}, {2, 40}, {2, 80}, {6, 120}, {6, 160}},
         {2, 2, 2, 6, 6},
         0},
        {"a refused key is no press", 0, {{9, 0}, {9, 40}}, {}, 0},
    };
    for (const PressCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CameraModel model(sim::CameraStatus{.mode = c.mode});
        for (const Arrival& a : c.arrivals) {
            const sim::Reaction r = model.Handle(KeyFrame(a.key), a.atMs);
            EXPECT_EQ(r.kind, sim::Reaction::Kind::Reply);
        }
        EXPECT_EQ(model.Keys().size(), c.arrivals.size());
        EXPECT_EQ(model.Presses(), c.presses);
        EXPECT_EQ(model.Status().operationState, c.stateAfter);
    }
}

TEST(SimKeyPresses, GapZeroMakesEveryKeyCommandAPress) {
    sim::CameraModel model;
    model.set_pressGapMs(0);
    for (const uint64_t at : {0u, 10u, 20u}) {
        model.Handle(KeyFrame(0), at);
    }
    EXPECT_EQ(model.Presses(), (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_EQ(model.Status().operationState, 1);
}

}  // namespace
