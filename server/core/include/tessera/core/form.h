// tessera/core/form.h: the console window tesseraForm: its control table, what the service
// asks of a loaded window, and its event handlers.
//
// The window's controls sit where the design puts them, in twips (15 to a pixel) from the
// top-left corner of the client area, and are created in the order of kControls. Each server
// builds its window from this table (Qt widgets, Win32 controls) and runs the handlers here.
#ifndef TESSERA_CORE_FORM_H
#define TESSERA_CORE_FORM_H

#include <memory>
#include <string>
#include <string_view>

#include "tessera/core/platform.h"

namespace tessera::core {

class Converter;
class PictureBox;

enum class ControlKind { kButton, kTextBox, kPicture, kLabel };

// The controls, in creation order.
enum class Control {
    kCommand3,
    kCommand2,
    kText5,
    kText4,
    kCommand1,
    kText3,
    kText2,
    kText1,
    kP,
    kLabel5,
    kLabel4,
    kLabel3,
    kLabel2,
    kLabel1,
};

struct ControlEntry {
    Control id;
    const char* name;
    ControlKind kind;
    // The caption or initial text as the design stores it, in Big5 (captionText gives UTF-8).
    const char* caption;
    int left, top, width, height;  // twips
    int tabIndex;                  // 0 first; labels take no focus
};

inline constexpr char kFormName[] = "tesseraForm";
inline constexpr char kFormCaption[] = "tessera";
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 6015;
inline constexpr int kClientHeightTwips = 5655;
// The font of the captions: a Traditional Chinese face, 12 pixels (9 points).
inline constexpr int kFontPixels = 12;

inline constexpr ControlEntry kControls[] = {
    {Control::kCommand3, "Command3", ControlKind::kButton, "\xb2\x4d\xb9\xcf", 3240, 0, 615, 255,
     8},
    {Control::kCommand2, "Command2", ControlKind::kButton, "\xbc\x65\xb0\xaa", 4080, 0, 615, 255,
     7},
    {Control::kText5, "Text5", ControlKind::kTextBox, "Text5", 5400, 0, 495, 270, 6},
    {Control::kText4, "Text4", ControlKind::kTextBox, "Text4", 4800, 0, 495, 270, 5},
    {Control::kCommand1, "Command1", ControlKind::kButton, "\xa8\x71\xb9\xcf", 2520, 0, 615, 255,
     4},
    {Control::kText3, "Text3", ControlKind::kTextBox, "20", 2040, 0, 375, 270, 3},
    {Control::kText2, "Text2", ControlKind::kTextBox, "2771234", 1200, 0, 735, 270, 2},
    {Control::kText1, "Text1", ControlKind::kTextBox, "301234", 360, 0, 735, 270, 1},
    {Control::kP, "P", ControlKind::kPicture, "", 240, 720, 5400, 4200, 0},
    {Control::kLabel5, "Label5", ControlKind::kLabel, "\xab\x65\xa6\xb8\xae\xc9\xb6\xa1", 1080, 360,
     720, 180, 13},
    {Control::kLabel4, "Label4", ControlKind::kLabel, "", 1800, 360, 2055, 255, 12},
    {Control::kLabel3, "Label3", ControlKind::kLabel, "\xaa\xac\xba\x41", 120, 360, 360, 180, 11},
    {Control::kLabel2, "Label2", ControlKind::kLabel, "xy", 120, 0, 180, 180, 10},
    {Control::kLabel1, "Label1", ControlKind::kLabel, "", 480, 360, 495, 255, 9},
};

// Twips to pixels (15 twips a pixel, rounded down).
constexpr int pixels(int twips) {
    return twips / kTwipsPerPixel;
}

// The table's entry of a control, and the entry of the control named `name` (null for an
// unknown name).
const ControlEntry& controlEntry(Control control);
const ControlEntry* findControl(std::string_view name);
// The caption or initial text of a control in UTF-8.
std::string captionText(const ControlEntry& entry);

// A loaded console window, as the request service and the handlers use it. A window holds
// its picture box and its converter control from its making on (attach).
class Form {
  public:
    virtual ~Form() = default;
    PictureBox& picture() { return *picture_; }
    const PictureBox& picture() const { return *picture_; }
    // The converter control BMP2GIF1; the window does not load without it.
    Converter& converter() { return *converter_; }
    // The text of a text box, or the caption of a label or button (UTF-8).
    virtual std::string text(Control control) const = 0;
    // Sets it; a label is repainted at once, so that "busy" shows while a request draws.
    virtual void setText(Control control, std::string_view text) = 0;
    virtual void show() = 0;
    // Shows the operator the error of a handler, in a message box that does not hold up the
    // server's requests.
    virtual void showError(const std::string& message) = 0;

  protected:
    // Called by the window as it is made, before the load handler runs.
    void attach(PictureBox& picture, Converter& converter) {
        picture_ = &picture;
        converter_ = &converter;
    }

  private:
    PictureBox* picture_ = nullptr;
    Converter* converter_ = nullptr;
};

// The program around the request service: it loads the window and ends the server.
class Host {
  public:
    virtual ~Host() = default;
    // Loads the console window, hidden, with its converter, and runs its load handler
    // (formLoad). Raises the error that keeps it from loading: 48 without the converter, 7
    // when the window or its image cannot be made.
    virtual std::unique_ptr<Form> loadForm() = 0;
    // The window was unloaded (myend, or the operator closed it): the server may end when no
    // object is alive either.
    virtual void windowUnloaded() = 0;
    // myend: the server ends, inside the call.
    virtual void endRequested() = 0;
};

// The load handler: Text4 and Text5 show the inner size of P as single-precision texts with
// a leading blank (" 356", " 276").
void formLoad(Form& form);

// The buttons' handlers; each raises the run-time error that ends it.
//  - Command1 (draw): Text1 and Text2 as numbers rounded to int32 (halves to even), Text3 as
//    the scale, then drawview;
//  - Command2 (size): the outer width of P from Text4, then its height from Text5, each a
//    number rounded to a whole pixel;
//  - Command3 (clear): clears P and refreshes it.
// Any other control does nothing.
void runButton(Form& form, Engine& engine, Control button);

// An operator's press of a button: runs its handler; an error ends the handler, goes to the
// log and is shown to the operator; the window stays.
void pressButton(Form& form, Engine& engine, Log& log, Control button);

// The time stamp of Label4: "yy_mm_dd hh:mm:ss" (03_04_05 06:07:08 for 5 April 2003).
std::string timeStampText(const LocalTime& time);

}  // namespace tessera::core

#endif  // TESSERA_CORE_FORM_H
