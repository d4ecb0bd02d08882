// The simulator's still of an exact byte size: still a JPEG of the same
// picture, exactly as long as asked, or nothing when that cannot be.
#include <gtest/gtest.h>

#include "sim/TestPicture.h"

namespace {

TEST(PadJpegTest, ReachesTheExactSizeAndStaysTheSamePicture) {
    const std::vector<uint8_t> jpeg = sim::EncodeJpeg(sim::RenderTestPicture(64, 48, "#1"), 75);
    ASSERT_GT(jpeg.size(), 100u);
    ASSERT_LT(jpeg.size(), 10240u - 4);
    // Around one block, a gap of exactly one segment head, and more than
    // one comment segment can hold.
    for (const size_t size : {size_t{10240}, size_t{10241}, jpeg.size(), jpeg.size() + 4,
                              jpeg.size() + 65537 + 2, size_t{200000}}) {
        const std::vector<uint8_t> padded = sim::PadJpeg(jpeg, size);
        ASSERT_EQ(padded.size(), size);
        const sim::JpegSize decoded = sim::CheckJpeg(padded);
        EXPECT_EQ(decoded.width, 64) << size;
        EXPECT_EQ(decoded.height, 48) << size;
        // The picture data itself is untouched at the end.
        EXPECT_TRUE(std::equal(jpeg.begin() + 2, jpeg.end(), padded.end() - (jpeg.size() - 2)));
    }
}

TEST(PadJpegTest, RefusesSizesItCannotReach) {
    const std::vector<uint8_t> jpeg = sim::EncodeJpeg(sim::RenderTestPicture(64, 48, "#1"), 75);
    for (const size_t size : {jpeg.size() - 1, jpeg.size() + 1, jpeg.size() + 3}) {
        EXPECT_TRUE(sim::PadJpeg(jpeg, size).empty()) << size;
    }
}

}  // namespace
