// The main screen with the program's controllers against the camcorder
// simulator over a pseudo-terminal, driven by pen events on its window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <thread>

#include "app/AppRegistry.h"
#include "platform/gps/Gps.h"
#include "platform/ui/Dialog.h"
#include "sim/TestPicture.h"
#include "sim/Wire.h"
#include "tests/ui/MainScreenHarness.h"
#include "ui/VersionDialog.h"

namespace {

using namespace uitest;
using Bytes = std::vector<uint8_t>;

TEST(MainScreenTest, Smoke) {
    MainScreenHarness h;
    ASSERT_TRUE(h.Ready());
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        h.Grab().save("/tmp/ms_smoke.png");
    });
}

}  // namespace
