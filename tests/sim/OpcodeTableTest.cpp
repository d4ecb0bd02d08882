// The simulator keeps its own opcode table (see sim/Wire.h); it must say what
// the program's says.
#include <gtest/gtest.h>

#include "ctp/CtpOpcodes.h"
#include "sim/Wire.h"

TEST(OpcodeTableTest, TheSimulatorAndTheProgramAgree) {
    const struct {
        const char* name;
        uint16_t program;
        uint16_t camera;
    } rows[] = {
        {"CTP_CAMCMD", CTP_CAMCMD, sim::CTP_CAMCMD},
        {"CTP_GPS", CTP_GPS, sim::CTP_GPS},
        {"CTP_IMAGE_CMD", CTP_IMAGE_CMD, sim::CTP_IMAGE_CMD},
        {"CTP_GPS_CMD", CTP_GPS_CMD, sim::CTP_GPS_CMD},
        {"CTP_1005", CTP_1005, sim::CTP_1005},
        {"CTP_GET_MODE", CTP_GET_MODE, sim::CTP_GET_MODE},
        {"CTP_MODE_POLL", CTP_MODE_POLL, sim::CTP_MODE_POLL},
        {"CTP_GET_IMAGE_DATA", CTP_GET_IMAGE_DATA, sim::CTP_GET_IMAGE_DATA},
        {"CTP_GET_DATA_INFO", CTP_GET_DATA_INFO, sim::CTP_GET_DATA_INFO},
        {"CTP_2001", CTP_2001, sim::CTP_2001},
        {"CTP_2002", CTP_2002, sim::CTP_2002},
        {"CTP_2005", CTP_2005, sim::CTP_2005},
        {"CTP_CAM_MODE", CTP_CAM_MODE, sim::CTP_CAM_MODE},
        {"CTP_IMAGE_DATA", CTP_IMAGE_DATA, sim::CTP_IMAGE_DATA},
        {"CTP_DATA_INFO", CTP_DATA_INFO, sim::CTP_DATA_INFO},
        {"CTP_ERROR_REPORT", CTP_ERROR_REPORT, sim::CTP_ERROR_REPORT},
    };
    // Every opcode of the program's table is listed above once.
    ASSERT_EQ(std::size(rows), std::size(kCtpOpcodes));
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(rows[i].program, kCtpOpcodes[i]) << rows[i].name;
        EXPECT_EQ(rows[i].camera, rows[i].program) << rows[i].name;
    }
    EXPECT_EQ(sim::kEnvelopeBytes, kCtpEnvelopeSize);
    EXPECT_EQ(sim::kMinFrameBytes, kCtpHeaderSize);
    EXPECT_EQ(sim::kBlockBytes, kCtpBlockDataSize);
    EXPECT_EQ(sim::kMaxFrameBytes, kCtpMaxFrameSize);
}
