// camora-controller: the remote control for a Bluetooth camcorder. The
// platform's entry function creates the windowing application and calls the
// program's entry with its resource module; the program takes no arguments.
// The module draws the skin afresh for a screen of another scale.
#include "app/EntryPoint.h"
#include "platform/ui/Application.h"
#include "platform/ui/skin/SkinArt.h"
#include "resources/Dialogs.h"

int main(int argc, char** argv) {
    return platform::RunApplication(argc, argv, skinpainter::ModuleWithSkinArt(ui::ProgramModule()),
                                    &AppEntryPoint);
}
