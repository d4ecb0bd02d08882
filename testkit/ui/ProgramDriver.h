// Drives the whole program in this process as a user would, on Qt's
// offscreen platform: the program's entry runs on this (the GUI) thread, and
// a script of steps, run from a timer inside the program's own modal loops,
// waits for each screen or box and presses its buttons with real mouse
// events. Every step and every box is written to standard error, so that a
// test that runs the program in a child process (the program ends the
// process itself) can match what happened.
//
//   ProgramDriver d;
//   d.Step("instruction", [&] { return d.Click(d.Screen(u"OK"), u"OK"); });
//   ...
//   d.RunProgram();      // returns the entry's result, or ends the process
#pragma once

#include <QPoint>
#include <QString>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class QDialog;
class QMessageBox;

namespace e2e {

using namespace std::chrono_literals;

class ProgramDriver {
public:
    // A step runs until it returns true (it is tried again every few
    // milliseconds) or its time runs out, which fails the run.
    using Action = std::function<bool()>;
    void Step(std::string name, Action action, std::chrono::milliseconds limit = 20s);

    // Runs the program's entry with the steps on a timer; returns its result.
    // After the last step the program runs on until it ends.
    int RunProgram();

    // Fails the run at once: writes why and ends the process with 3.
    [[noreturn]] static void Fail(const std::string& why);
    // Writes one line of the transcript to standard error.
    static void Note(const std::string& line);

    // The program's visible screen (a dialog titled "Camora Controller")
    // that has a control with this text, or null.
    static QDialog* ScreenWith(const QString& text);
    // The visible message box, or null.
    static QMessageBox* Box();
    // Answers the visible box with the button of that text ("OK", "YES",
    // "NO") when its caption and text are these; false while there is none.
    static bool Answer(const QString& caption, const QString& text, const QString& button);
    // A mouse click on the enabled button of that text of `screen`.
    static bool Click(QDialog* screen, const QString& button);
    // Whether the button of that text of `screen` is enabled.
    static bool Enabled(QDialog* screen, const QString& button);
    // The list box's item texts, in order.
    static std::vector<QString> ListItems(QDialog* screen);
    // A mouse click on the first list item of that text.
    static bool ClickItem(QDialog* screen, const QString& text);
    // The main screen (the program's dialog without buttons in front), or null.
    static QDialog* MainScreen();
    // Pen down and up on the main screen at a panel point (layout pixels).
    static bool TapPanel(QPoint panelPoint);

private:
    struct Entry {
        std::string name;
        Action action;
        std::chrono::milliseconds limit;
    };
    void Tick();

    std::vector<Entry> steps_;
    size_t next_ = 0;
    std::chrono::steady_clock::time_point stepStart_;
};

}  // namespace e2e
