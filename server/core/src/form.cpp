// form.cpp: the console window's control table and its handlers.
#include "tessera/core/form.h"

#include <kcommon/big5.h>

#include <cstdio>

#include "tessera/core/errors.h"
#include "tessera/core/numbers.h"
#include "tessera/core/picture_box.h"
#include "tessera/core/view.h"

namespace tessera::core {

const ControlEntry& controlEntry(Control control) {
    return kControls[static_cast<int>(control)];
}

const ControlEntry* findControl(std::string_view name) {
    for (const ControlEntry& entry : kControls) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

std::string captionText(const ControlEntry& entry) {
    // The table's captions are Big5 the codec knows (a test checks each of them).
    return kcommon::big5_to_utf8(entry.caption, kcommon::BadBig5::replace).value_or("");
}

void formLoad(Form& form) {
    const PictureBox& box = form.picture();
    form.setText(Control::kText4, singleText(static_cast<float>(box.innerWidth())));
    form.setText(Control::kText5, singleText(static_cast<float>(box.innerHeight())));
}

void runButton(Form& form, Engine& engine, Control button) {
    PictureBox& box = form.picture();
    switch (button) {
        case Control::kCommand1: {
            const int32_t x = roundToInt32(readNumber(form.text(Control::kText1)));
            const int32_t y = roundToInt32(readNumber(form.text(Control::kText2)));
            const double scale = readNumber(form.text(Control::kText3));
            drawview(box, engine, x, y, scale);
            break;
        }
        case Control::kCommand2:
            // The window's scale unit is the pixel: sizes are whole pixels, rounded halves to
            // even.
            box.setOuterWidth(roundToInt32(toSingle(readNumber(form.text(Control::kText4)))));
            box.setOuterHeight(roundToInt32(toSingle(readNumber(form.text(Control::kText5)))));
            break;
        case Control::kCommand3:
            box.clearImage();
            box.refreshImage();
            break;
        default:
            break;
    }
}

void pressButton(Form& form, Engine& engine, Log& log, Control button) {
    const auto error = errorOf([&] { runButton(form, engine, button); });
    if (!error) return;
    log.warning("console window: run-time error " + error->message());
    form.showError(operatorErrorText(*error));
}

std::string timeStampText(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d_%02d_%02d %02d:%02d:%02d", t.year % 100, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

}  // namespace tessera::core
