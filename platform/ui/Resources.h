// The program's resource module: dialog templates, strings and bitmaps looked
// up by number. The program describes its resources as constant tables and
// hands the module to the platform's entry (RunApplication); the module's
// address is the "instance handle" that screens keep and pass back here.
//
// A screen uses it like this: keep the `const ResourceModule*` it was given,
// pass it to RunModalDialog with a template number, and load its texts with
// LoadString and its pictures with LoadBitmap (Graphics.h).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace platform {

// The kinds of control a template may hold.
enum class ControlKind : uint8_t { StaticText, PushButton, ListBox, ProgressBar, Picture };

// Control styles; a template combines them.
namespace style {
inline constexpr uint32_t kLeft = 0x0000;          // static text: left-aligned, wraps words
inline constexpr uint32_t kCentre = 0x0001;        // static text: centred, wraps words
inline constexpr uint32_t kNoWrap = 0x000C;        // static text: breaks only at the text's CR LF
inline constexpr uint32_t kDefault = 0x0001;       // push button: the default button
inline constexpr uint32_t kNotify = 0x0001;        // list box: reports selection changes
inline constexpr uint32_t kVScroll = 0x00200000;   // list box: vertical scroll bar
inline constexpr uint32_t kBorder = 0x00800000;    // list box: border
inline constexpr uint32_t kTabStop = 0x00010000;   // keyboard focus by Tab
inline constexpr uint32_t kDisabled = 0x08000000;  // disabled at start
}  // namespace style

// One control of a dialog template: position and size in dialog units.
struct ControlTemplate {
    int id;  // -1: no id (a picture)
    ControlKind kind;
    int16_t x, y, width, height;
    uint32_t style;
    std::u16string_view text;  // initial text (the screens set theirs at initialisation)
    uint32_t bitmapId;         // Picture: the bitmap shown; 0 otherwise
};

// A dialog template: size in dialog units, font, title and controls.
struct DialogTemplate {
    uint32_t id;
    int16_t width, height;
    std::u16string_view font;
    int pointSize;
    std::u16string_view title;
    std::span<const ControlTemplate> controls;
};

// Dialog units of the handset: a 140 x 183 template fills its 480 x 640 screen.
inline constexpr int kReferenceUnitsWide = 140;
inline constexpr int kReferenceUnitsHigh = 183;

// A bitmap drawn for a scale: width x height pixels, 0xFFRRGGBB, row by row.
struct BitmapPixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

struct ResourceModule {
    // The template of that number, or null.
    const DialogTemplate* (*findDialog)(uint32_t id);
    // The text of string `id`, empty when there is none.
    std::u16string_view (*findString)(uint32_t id);
    // The encoded picture (PNG, BMP or JPEG bytes) of bitmap `id`, empty when there is none.
    std::span<const uint8_t> (*findBitmap)(uint32_t id);
    // Bitmap `id` drawn afresh for `scale` device pixels per layout pixel;
    // false when it cannot be (the encoded picture is then scaled). May be
    // null: a module without artwork that can be redrawn.
    bool (*drawBitmap)(uint32_t id, double scale, BitmapPixels& out);
};

// The instance handle the program keeps: its resource module.
using InstanceHandle = const ResourceModule*;

// Copies string `id` of `module` into `buffer` of `capacity` units, cut to fit
// and zero-terminated; returns the units copied, 0 when there is no such string.
int LoadString(const ResourceModule* module, uint32_t id, char16_t* buffer, int capacity);

}  // namespace platform
