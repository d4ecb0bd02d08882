#include "resources/Strings.h"

#include <algorithm>
#include <utility>

namespace ui {
namespace {

constexpr std::pair<uint32_t, std::u16string_view> kStrings[] = {
    {104, u"OK"},
    {105, u"CANCEL"},
    {106, u"Camora Controller"},
    {107, u"SELECT DEVICE"},
    {108, u"CONNECTING\u2026"},
    {109, u"CHECK"},
    {110, u"DO YOU WANT TO CLOSE \r\nTHIS APPLICATION?"},
    {111, u"YES"},
    {112, u"NO"},
    {113, u"ERROR"},
    {114, u"UNABLE TO START-UP DUE TO INSUFFICIENT MEMORY"},
    {115, u"BLUETOOTH NOT AVAILABLE"},
    {116, u"NO PAIRING DEVICE FOUND"},
    {118, u"CONNECTION TIME-OUT"},
    {119, u"CONNECTION FAILED"},
    {120, u"CAPTURE"},
    {121, u"SAVE IMAGE?"},
    {123, u"FILE ALREADY EXIST \r\nOVERWRITE?"},
    {124, u"SAVING FILE NOW"},
    {125, u"FILE SAVED"},
    {126, u"IMAGE ACQUISITION FAILED"},
    {127, u"BLUETOOTH DISCONNECTED \r\nWILL CLOSE APPLICATION NOW"},
    {128, u"ACQUIRING IMAGE\u2026"},
    {129, u"INSUFFICIENT AVAILABLE SPACE.\r\nTRY AGAIN?"},
    {130, u"THIS FILE IS PROTECTED.\r\nTRY AGAIN?"},
    {131, u"FILE SAVE FAILED.\r\nTRY AGAIN?"},
    {132, u"Camora Controller"},
    {133, u"Copyright (C) 2009\r\nCamoraController developers\r\nAll rights reserved."},
    {134, u"Version"},
    {135, u"1.10"},
    {136, u"Camora Controller for Windows Mobile"},
    {137, u"THE CAMCORDER IS IN USE BY ANOTHER PROGRAM"},
    {138, u"NO GPS POSITION SOURCE"},
    {1044, u"SELECT \u201cBLUETOOTH\u201d FROM THE \r\nCAMORA MENU AND TURN ON \r\nTHE SMARTPHONE"},
};

}  // namespace

std::u16string_view ResourceString(uint32_t id) {
    for (const auto& [number, text] : kStrings) {
        if (number == id) {
            return text;
        }
    }
    return {};
}

int LoadResourceString(uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    const std::u16string_view text = ResourceString(id);
    const int n = std::min(static_cast<int>(text.size()), capacity - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

}  // namespace ui
