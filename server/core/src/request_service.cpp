// request_service.cpp: the methods of tesseraClass.
#include "tessera/core/request_service.h"

#include <algorithm>
#include <utility>

#include "tessera/core/errors.h"
#include "tessera/core/limits.h"
#include "tessera/core/log.h"
#include "tessera/core/numbers.h"
#include "tessera/core/picture_box.h"
#include "tessera/core/text.h"
#include "tessera/core/view.h"

namespace tessera::core {

RequestService::RequestService(Folders folders, FileNameRules fileNames, Services services)
    : folders_(std::move(folders)), fileNames_(fileNames), services_(services) {}

RequestService::~RequestService() = default;

void RequestService::initialise() {
    if (services_.engine.sdllisinit() == -1) {
        const int result = services_.engine.sdllinit(folders_.data, folders_.tmp);
        services_.log.info("data set " + logText(folders_.data) + " loaded with result " +
                           std::to_string(result));
    }
}

int32_t RequestService::test(int32_t a, int32_t b) {
    counter_ = checkedAdd(counter_, 1);
    return checkedAdd(checkedAdd(a, b), counter_);
}

Form& RequestService::window() {
    if (window_ == nullptr) {
        window_ = services_.host.loadForm();
        services_.log.info("console window loaded");
    }
    return *window_;
}

void RequestService::unloadWindow() {
    if (window_ == nullptr) return;
    // The window goes before the host hears of it, so that the host sees it unloaded.
    std::unique_ptr<Form> window = std::move(window_);
    window.reset();
    services_.log.info("console window unloaded");
    services_.host.windowUnloaded();
}

int32_t RequestService::show() {
    window().show();
    return 0;
}

void RequestService::myend() {
    unloadWindow();
    services_.log.info("myend: the server ends");
    services_.host.endRequested();
}

void RequestService::setBusy(Form& form) {
    form.setText(Control::kLabel1, "busy");
}

void RequestService::setDone(Form& form) {
    form.setText(Control::kLabel1, "");
    form.setText(Control::kLabel4, timeStampText(services_.clock.now()));
}

void RequestService::drawInto(Form& form, int32_t xc, int32_t yc, double mp) {
    PictureBox& box = form.picture();
    if (drawview(box, services_.engine, xc, yc, mp) == 0) {
        lastViewPixels_ = static_cast<int64_t>(box.innerWidth()) * box.innerHeight();
    }
}

int64_t RequestService::exportRoom() const {
    if (window_ == nullptr) return lastViewPixels_;
    const PictureBox& box = window_->picture();
    return std::max(static_cast<int64_t>(box.innerWidth()) * box.innerHeight(), lastViewPixels_);
}

int32_t RequestService::draw2(int32_t xc, int32_t yc, double mp, std::span<unsigned char> b) {
    Form& form = window();
    setBusy(form);
    drawInto(form, xc, yc, mp);
    if (b.empty() || static_cast<int64_t>(b.size()) < kBmpHeaderBytes + exportRoom()) {
        raiseError(kErrSubscript);
    }
    const int32_t count = services_.engine.sdllgetbmp(b.data());
    setDone(form);
    return count;
}

std::vector<unsigned char> RequestService::draw3(int32_t xc, int32_t yc, double mp) {
    Form& form = window();
    setBusy(form);
    drawInto(form, xc, yc, mp);
    if (kBmpHeaderBytes + exportRoom() > kDraw3BufferBytes) raiseError(kErrSubscript);
    std::vector<unsigned char> buffer(kDraw3BufferBytes);
    const int32_t count = services_.engine.sdllgetbmp(buffer.data());
    if (count < 0) raiseError(kErrInvalidCall);
    if (count > kDraw3BufferBytes - kBmpHeaderBytes) raiseError(kErrSubscript);
    buffer.resize(static_cast<size_t>(count) + kBmpHeaderBytes);
    setDone(form);
    return buffer;
}

// The steps of draw; every error raised here becomes "err.gif" in draw.
std::string RequestService::drawSteps(int32_t xc, int32_t yc, double mp, const std::string& id,
                                      int16_t mapWidth, int16_t mapHeight) {
    Form& form = window();
    PictureBox& box = form.picture();
    // Height and width are set together, so that a refused side changes neither.
    box.setOuterSize(roundToInt32(toSingle(mapWidth)), roundToInt32(toSingle(mapHeight)));
    setBusy(form);
    drawInto(form, xc, yc, mp);

    const std::string bmpPath = folders_.tmp + id + ".bmp";
    if (!box.saveBmp(bmpPath)) {
        raiseError(services_.files.isFolder(folders_.tmp) ? kErrFileAccess : kErrPathNotFound);
    }
    // One reading of the clock gives both the minute and the second, so that the two always
    // belong to the same moment.
    const LocalTime now = services_.clock.now();
    std::string name = gifName(id, now.minute, now.second);
    Converter& converter = form.converter();
    converter.convert(bmpPath, folders_.tmp + name, false);
    const bool failed = converter.failed();
    if (!services_.files.remove(bmpPath)) raiseError(kErrFileAccess);
    if (failed) {
        services_.log.warning("draw \"" + logText(id) +
                              "\": the converter failed: " + logText(converter.lastError(), 1024));
        return kErrorGif;
    }
    return name;
}

std::string RequestService::draw(int32_t xc, int32_t yc, double mp, std::u16string_view id,
                                 int16_t mapWidth, int16_t mapHeight) {
    if (!isPlainFileName(id, fileNames_)) {
        services_.log.warning("draw: refused the request identifier \"" + logText(id) + "\"");
        return kErrorGif;
    }
    const std::string name = toUtf8(id);
    std::string result;
    const auto error = errorOf([&] { result = drawSteps(xc, yc, mp, name, mapWidth, mapHeight); });
    if (error) {
        services_.log.warning("draw \"" + logText(name) + "\": " + error->message());
        return kErrorGif;
    }
    return result;
}

}  // namespace tessera::core
