// fuzz_requests.cpp: libFuzzer entry for the server's request arguments. Each input is a
// sequence of requests (test, draw, draw2, draw3) whose arguments are taken from the bytes:
// any int32 centre, any double scale (NaN, infinities, denormals), IDs of any UTF-16 units,
// any int16 sizes, byte arrays of any length. They run through the server core's
// RequestService as the D-Bus server runs it (ServiceHost, on Qt's offscreen platform) with the
// engine loaded on the sample data set, and the results must keep the server's promises:
//  - draw returns "err.gif" or ID MS.gif, the GIF exists then, and no BMP is left after a
//    success; an ID that is not a plain file name writes nothing;
//  - a refused size leaves the picture box as it was, and the box never passes its limit;
//  - draw2 and draw3 either fail with a run-time error or return a BMP that fits its buffer;
//  - nothing but RunTimeError leaves a method.
// The same entry runs the seed corpus in the normal tests (tests/server/corpus).
#include <tessera/core/errors.h>
#include <tessera/core/limits.h>
#include <tessera/core/log.h>
#include <tessera/core/names.h>
#include <tessera/core/request_service.h>
#include <tessera/core/text.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "console_window.h"
#include "picture_box.h"
#include "service_host.h"
#include "settings.h"

namespace {

// Reads the input front to back; past its end every value is 0.
class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    template <typename T>
    T take() {
        T value{};
        const size_t n = std::min(sizeof(T), size_ - std::min(pos_, size_));
        if (n > 0) std::memcpy(&value, data_ + pos_, n);
        pos_ += sizeof(T);
        return value;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_server_requests: %s\n", what);
    std::abort();
}

struct World {
    QTemporaryDir appDir;
    std::unique_ptr<QApplication> app;
    tessera::core::NullLog log;
    std::unique_ptr<tessera::ServiceHost> host;
};

World* world = nullptr;

void setUp() {
    static int argc = 1;
    static char name[] = "fuzz_server_requests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    world = new World;
    world->app = std::make_unique<QApplication>(argc, argv);
    const QString appDir = world->appDir.path();
    if (!QDir(appDir).mkdir(QStringLiteral("tmp")) ||
        !QFile::link(QStringLiteral(TESSERA_FUZZ_SAMPLE_DIR), appDir + QStringLiteral("/kgrid"))) {
        fail("cannot lay out the AppDir");
    }
    tessera::Settings settings;
    settings.appDir = appDir;
    settings.enginePath = TESSERA_FUZZ_LIBDIR "/libkestrel.so";
    settings.converterPath = TESSERA_FUZZ_LIBDIR "/libkbmp2gif.so";
    world->host = std::make_unique<tessera::ServiceHost>(settings, world->log);
    world->host->service().initialise();
    // The world lives to the end of the process; its folder goes at exit.
    std::atexit([] { world->appDir.remove(); });
}

// Removes every file of tmp/ so that inputs do not see each other's files.
void clearTmp() {
    QDir tmp(world->host->settings().tmpDir());
    for (const QString& name : tmp.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        tmp.remove(name);
    }
}

QString takeId(Bytes& in) {
    const int kind = in.take<uint8_t>() % 4;
    const int length = in.take<uint8_t>() + (kind == 3 ? 150 : 0);  // up to 405 units
    QString id;
    for (int i = 0; i < length && !in.empty(); ++i) {
        switch (kind) {
            case 0:
                id += QChar(u'A' + in.take<uint8_t>() % 26);
                break;  // plain
            case 1:
                id += QChar(static_cast<char16_t>(in.take<uint8_t>()));
                break;  // Latin-1
            default:
                id += QChar(in.take<char16_t>());
                break;  // any unit
        }
    }
    return id;
}

// Sizes of at most this many pixels are drawn; larger valid ones are scaled down in height,
// so that one input stays fast while both sides still reach their limits.
constexpr int64_t kMaxFuzzPixels = 1 << 19;

// The UTF-16 units of a Qt text, as the core takes an identifier.
std::u16string_view units(const QString& text) {
    return std::u16string_view(QStringView(text).utf16(), static_cast<size_t>(text.size()));
}

void oneDraw(tessera::ServiceHost& host, Bytes& in) {
    tessera::core::RequestService& service = host.service();
    const auto xc = in.take<int32_t>();
    const auto yc = in.take<int32_t>();
    const auto mp = in.take<double>();
    const QString id = takeId(in);
    const auto w = in.take<int16_t>();
    auto h = in.take<int16_t>();
    if (tessera::PictureBox::acceptsOuterSize(w, h) &&
        static_cast<int64_t>(w) * h > kMaxFuzzPixels) {
        h = static_cast<int16_t>(std::max<int64_t>(5, kMaxFuzzPixels / w));
    }
    const bool windowBefore = service.windowLoaded();
    const int beforeW = windowBefore ? host.window().pictureBox().width() : 0;
    const int beforeH = windowBefore ? host.window().pictureBox().height() : 0;

    const QDir tmp(host.settings().tmpDir());
    const QStringList filesBefore = tmp.entryList(QDir::Files | QDir::Hidden);
    const std::string name = service.draw(xc, yc, mp, units(id), w, h);
    const QString result = QString::fromStdString(name);
    if (!tessera::core::isPlainFileName(units(id), tessera::core::FileNameRules::kPosix)) {
        if (name != tessera::core::kErrorGif) fail("bad ID drawn");
        if (tmp.entryList(QDir::Files | QDir::Hidden) != filesBefore) fail("bad ID wrote a file");
        return;
    }
    if (!service.windowLoaded()) fail("the window did not load");
    const tessera::PictureBox& box = host.window().pictureBox();
    if (box.innerWidth() < 1 || box.innerHeight() < 1 ||
        box.innerWidth() > tessera::PictureBox::kMaxSide ||
        box.innerHeight() > tessera::PictureBox::kMaxSide) {
        fail("the picture box left its range");
    }
    const bool accepted = tessera::PictureBox::acceptsOuterSize(w, h);
    if (accepted && (box.width() != w || box.height() != h)) fail("an accepted size was not set");
    if (!accepted && windowBefore && (box.width() != beforeW || box.height() != beforeH)) {
        fail("a refused size changed the picture box");
    }
    if (name == tessera::core::kErrorGif) return;
    if (!accepted) fail("a refused size was drawn");
    if (!result.startsWith(id) || !result.endsWith(QLatin1String(".gif"))) fail("bad GIF name");
    if (!tmp.exists(result)) fail("the GIF named is missing");
    if (tmp.exists(id + QStringLiteral(".bmp"))) fail("a BMP stayed after a success");
}

void oneBuffered(tessera::core::RequestService& service, Bytes& in, bool intoArray) {
    const auto xc = in.take<int32_t>();
    const auto yc = in.take<int32_t>();
    const auto mp = in.take<double>();
    try {
        if (intoArray) {
            // Lengths around the sizes that matter: empty, short, exact, roomy.
            const uint32_t length = in.take<uint32_t>() % (1078 + 1100 * 1100);
            std::vector<unsigned char> b(length);
            const int32_t count = service.draw2(xc, yc, mp, b);
            if (count < 0 || 1078 + static_cast<int64_t>(count) > static_cast<int64_t>(b.size())) {
                fail("draw2 wrote past its array");
            }
            if (b.size() != length) fail("draw2 resized the array");
        } else {
            const std::vector<unsigned char> image = service.draw3(xc, yc, mp);
            if (image.size() < 1078 ||
                image.size() > static_cast<size_t>(tessera::core::kDraw3BufferBytes) ||
                image[0] != 'B' || image[1] != 'M') {
                fail("draw3 returned no BMP");
            }
        }
    } catch (const tessera::core::RunTimeError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    // The sanitizer runtime intercepts dlopen, which hides the run path from the engine's
    // bare-name binding: name the library folder in the search path and start again.
    const char* search = std::getenv("LD_LIBRARY_PATH");
    if (search == nullptr || std::strstr(search, TESSERA_FUZZ_LIBDIR) == nullptr) {
        std::string path = TESSERA_FUZZ_LIBDIR;
        if (search != nullptr && *search != '\0') path += std::string(":") + search;
        setenv("LD_LIBRARY_PATH", path.c_str(), 1);
        execv("/proc/self/exe", *argv);
        fail("cannot restart with the library folder in LD_LIBRARY_PATH");
    }
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (world == nullptr) setUp();
    tessera::ServiceHost& host = *world->host;
    tessera::core::RequestService& service = host.service();
    Bytes in(data, size);
    // At most eight requests an input.
    for (int request = 0; request < 8 && !in.empty(); ++request) {
        switch (in.take<uint8_t>() % 4) {
            case 0:
                try {
                    const auto a = in.take<int32_t>();
                    const auto b = in.take<int32_t>();
                    service.test(a, b);
                } catch (const tessera::core::RunTimeError& error) {
                    if (error.number() != tessera::core::kErrOverflow) {
                        fail("test raised another error");
                    }
                }
                break;
            case 1:
                oneDraw(host, in);
                break;
            case 2:
                oneBuffered(service, in, true);
                break;
            default:
                oneBuffered(service, in, false);
                break;
        }
    }
    clearTmp();
    return 0;
}
