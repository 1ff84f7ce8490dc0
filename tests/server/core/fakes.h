// fakes.h: stand-ins for what the request service runs on, for the tests of the server core:
// an engine that records its calls and writes a BMP of the view's size, a converter, a clock
// standing still, files kept in memory (the picture box "saves" into them), a console window
// without a screen, a host that counts what it is told, and a log that keeps its lines.
#ifndef TESSERA_TESTS_CORE_FAKES_H
#define TESSERA_TESTS_CORE_FAKES_H

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tessera/core/errors.h"
#include "tessera/core/form.h"
#include "tessera/core/limits.h"
#include "tessera/core/picture_box.h"
#include "tessera/core/platform.h"

namespace tessera::core::testing {

// The engine: draws nothing, remembers the last call, refuses scales below `minScale` (-1, as
// the engine does), and exports a BMP whose header gives the size of the last view it
// accepted and whose image takes `imageBytes` (or, when negative, the refusal).
class FakeEngine : public Engine {
  public:
    int sdllisinit() override { return loaded ? 0 : -1; }
    int sdllinit(const std::string& data, const std::string& tmp) override {
        ++initCalls;
        loaded = true;
        dataDir = data;
        tmpDir = tmp;
        return 0;
    }
    int sdlldraw(DeviceContext dc, int left, int top, int width, int height, double scale,
                 const char* layers) override {
        if (drawError != 0) raiseError(drawError);
        ++drawCalls;
        last = {left, top, width, height, scale, layers};
        if (scale < minScale) return -1;
        viewWidth = width;
        viewHeight = height;
        return 0;
    }
    int sdllgetbmp(unsigned char* buffer) override {
        if (imageBytes < 0) return imageBytes;
        const int64_t bytes =
            imageBytes == 0 ? static_cast<int64_t>(viewWidth) * viewHeight / 2 : imageBytes;
        std::memset(buffer, 0, kBmpHeaderBytes);
        buffer[0] = 'B';
        buffer[1] = 'M';
        std::memcpy(buffer + 18, &viewWidth, 4);
        std::memcpy(buffer + 22, &viewHeight, 4);
        std::memset(buffer + kBmpHeaderBytes, 7, static_cast<size_t>(bytes));
        return static_cast<int>(bytes);
    }

    struct Call {
        int left = 0, top = 0, width = 0, height = 0;
        double scale = 0;
        std::string layers;
    };
    bool loaded = false;
    int initCalls = 0;
    int drawCalls = 0;
    int drawError = 0;  // raised by sdlldraw when not 0 (a binding error)
    double minScale = 1;
    int imageBytes = 0;  // 0: half of the view's W x H; negative: the export refuses
    int viewWidth = 0, viewHeight = 0;
    std::string dataDir, tmpDir;
    Call last;
};

class FakeClock : public Clock {
  public:
    LocalTime now() override { return time; }
    LocalTime time{2026, 12, 8, 14, 5, 9, 0};
};

// Files in memory: a set of folders and of files with their contents.
class FakeFiles : public Files {
  public:
    bool isFolder(const std::string& path) override { return folders.count(path) != 0; }
    bool remove(const std::string& path) override {
        if (undeletable.count(path) != 0) return false;
        return files.erase(path) != 0;
    }
    bool write(const std::string& path, std::string contents) {
        const auto slash = path.find_last_of('/');
        if (!isFolder(path.substr(0, slash + 1))) return false;
        files[path] = std::move(contents);
        return true;
    }
    std::set<std::string> folders;
    std::set<std::string> undeletable;
    std::map<std::string, std::string> files;
};

class FakeConverter : public Converter {
  public:
    explicit FakeConverter(FakeFiles& files) : files_(files) {}
    void convert(const std::string& bmp, const std::string& gif, bool) override {
        ++calls;
        failed_ = fail || files_.files.count(bmp) == 0 || !files_.write(gif, "GIF");
    }
    bool failed() override { return failed_; }
    std::string lastError() override { return failed_ ? "cannot write the GIF" : ""; }
    bool fail = false;
    int calls = 0;

  private:
    FakeFiles& files_;
    bool failed_ = false;
};

// A picture box whose image is a size and a "cleared" flag; it saves into FakeFiles.
class FakePictureBox : public PictureBox {
  public:
    FakePictureBox(FakeFiles& files, int outerWidth, int outerHeight) : files_(files) {
        setOuterSize(outerWidth, outerHeight);
    }
    DeviceContext deviceContext() const override { return const_cast<FakePictureBox*>(this); }
    void clearImage() override { ++clears; }
    void refreshImage() override { ++refreshes; }
    bool saveBmp(const std::string& path) override {
        return files_.write(path,
                            std::to_string(innerWidth()) + "x" + std::to_string(innerHeight()));
    }
    int clears = 0;
    int refreshes = 0;
    bool outOfMemory = false;  // resizeImage raises 7

  protected:
    void resizeImage(int, int) override {
        if (outOfMemory) raiseError(kErrOutOfMemory);
    }

  private:
    FakeFiles& files_;
};

// The console window without a screen: texts by control, the picture box at its design size.
class FakeForm : public Form {
  public:
    explicit FakeForm(FakeFiles& files)
        : box_(files, pixels(controlEntry(Control::kP).width),
               pixels(controlEntry(Control::kP).height)),
          converter_(files) {
        attach(box_, converter_);
        for (const ControlEntry& entry : kControls) texts_[entry.id] = captionText(entry);
        formLoad(*this);
    }
    FakePictureBox& box() { return box_; }
    FakeConverter& fakeConverter() { return converter_; }
    std::string text(Control control) const override { return texts_.at(control); }
    void setText(Control control, std::string_view text) override {
        texts_[control] = std::string(text);
        if (control == Control::kLabel1) label1History.emplace_back(text);
    }
    void show() override { ++shows; }
    void showError(const std::string& message) override { errors.push_back(message); }

    int shows = 0;
    std::vector<std::string> errors;
    std::vector<std::string> label1History;

  private:
    FakePictureBox box_;
    FakeConverter converter_;
    std::map<Control, std::string> texts_;
};

// The host: loads FakeForm (or fails with loadError), counts unloads and ends; `form` is the
// window it loaded last, while it is loaded.
class FakeHost : public Host {
  public:
    explicit FakeHost(FakeFiles& files) : files_(files) {}
    std::unique_ptr<Form> loadForm() override {
        if (loadError != 0) raiseError(loadError);
        auto loaded = std::make_unique<FakeForm>(files_);
        form = loaded.get();
        ++loads;
        return loaded;
    }
    void windowUnloaded() override {
        form = nullptr;
        ++unloads;
    }
    void endRequested() override { ++ends; }
    int loadError = 0;
    int loads = 0, unloads = 0, ends = 0;
    FakeForm* form = nullptr;

  private:
    FakeFiles& files_;
};

class RecordingLog : public Log {
  public:
    void write(LogLevel level, std::string_view message) override {
        lines.push_back(std::string(levelName(level)) + ": " + std::string(message));
    }
    static const char* levelName(LogLevel level) {
        return level == LogLevel::kWarning ? "warning" : "info";
    }
    bool contains(std::string_view text) const {
        for (const auto& line : lines) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> lines;
};

// The error number that `call` raises, 0 when it raises none.
template <typename Call>
int errorNumberOf(Call call) {
    const auto error = errorOf(call);
    return error ? error->number() : 0;
}

}  // namespace tessera::core::testing

#endif  // TESSERA_TESTS_CORE_FAKES_H
