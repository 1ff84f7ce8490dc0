// request_service.cpp: the methods of tesseraClass.
#include "request_service.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <algorithm>
#include <limits>

#include "console_window.h"
#include "numbers.h"
#include "run_time_error.h"
#include "server_log.h"
#include "tessera_bas.h"

namespace tessera {

namespace {

// Adds two int32 values, raising error 6 when the sum leaves the int32 range.
int32_t checkedAdd(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + static_cast<int64_t>(b);
    if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
        raiseError(kErrOverflow);
    }
    return static_cast<int32_t>(sum);
}

}  // namespace

RequestService::RequestService(Settings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), engine_(settings_.enginePath) {}

RequestService::~RequestService() {
    delete window_.data();
}

void RequestService::initialise() {
    if (engine_.sdllisinit() == -1) {
        const int result = engine_.sdllinit(QFile::encodeName(settings_.dataDir()),
                                            QFile::encodeName(settings_.tmpDir()));
        qInfo("data set %s loaded with result %d", qPrintable(settings_.dataDir()), result);
    }
}

int32_t RequestService::test(int32_t a, int32_t b) {
    counter_ = checkedAdd(counter_, 1);
    return checkedAdd(checkedAdd(a, b), counter_);
}

ConsoleWindow& RequestService::window() {
    if (window_.isNull()) {
        auto* window = new ConsoleWindow(engine_, settings_.converterPath);
        connect(window, &ConsoleWindow::closeRequested, this, [this] {
            // Unload after the close event has been handled.
            QMetaObject::invokeMethod(this, &RequestService::unloadWindow, Qt::QueuedConnection);
        });
        window_ = window;
        qInfo("console window loaded");
    }
    return *window_;
}

void RequestService::unloadWindow() {
    if (window_.isNull()) return;
    ConsoleWindow* window = window_.data();
    window_.clear();
    window->hide();
    window->deleteLater();
    qInfo("console window unloaded");
    emit windowUnloaded();
}

int32_t RequestService::show() {
    ConsoleWindow& form = window();
    form.show();
    form.raise();
    return 0;
}

void RequestService::myend() {
    unloadWindow();
    emit endRequested();
}

void RequestService::setBusy(ConsoleWindow& window) {
    window.label1()->setText(QStringLiteral("busy"));
    window.label1()->repaint();
}

void RequestService::setDone(ConsoleWindow& window) {
    window.label1()->setText(QString());
    window.label4()->setText(currentTime(settings_).toString(QStringLiteral("yy_MM_dd HH:mm:ss")));
}

int32_t RequestService::drawInto(ConsoleWindow& window, int32_t xc, int32_t yc, double mp) {
    PictureBox& box = window.picture();
    const int32_t result = drawview(box, engine_, xc, yc, mp);
    if (result == 0) {
        lastViewPixels_ = static_cast<int64_t>(box.innerWidth()) * box.innerHeight();
    }
    return result;
}

// The room the export may fill after the header: W x H of the view it reads, which is the
// last accepted view (the current box when the view was just drawn, an earlier size when
// the engine refused the scale).
int64_t RequestService::exportRoom() {
    const PictureBox& box = window_->picture();
    const int64_t current = static_cast<int64_t>(box.innerWidth()) * box.innerHeight();
    return std::max(current, lastViewPixels_);
}

int32_t RequestService::draw2(int32_t xc, int32_t yc, double mp, QByteArray& b) {
    ConsoleWindow& form = window();
    setBusy(form);
    drawInto(form, xc, yc, mp);
    // An empty array stands for one that is not allocated.
    if (b.isEmpty() || b.size() < kBmpHeaderBytes + exportRoom()) raiseError(kErrSubscript);
    const int32_t count = engine_.sdllgetbmp(reinterpret_cast<unsigned char*>(b.data()));
    setDone(form);
    return count;
}

QByteArray RequestService::draw3(int32_t xc, int32_t yc, double mp) {
    ConsoleWindow& form = window();
    setBusy(form);
    drawInto(form, xc, yc, mp);
    if (kBmpHeaderBytes + exportRoom() > kDraw3BufferBytes) raiseError(kErrSubscript);
    QByteArray buffer(kDraw3BufferBytes, '\0');
    const int32_t count = engine_.sdllgetbmp(reinterpret_cast<unsigned char*>(buffer.data()));
    if (count < 0) raiseError(kErrInvalidCall);
    if (count > kDraw3BufferBytes - kBmpHeaderBytes) raiseError(kErrSubscript);
    buffer.truncate(count + kBmpHeaderBytes);
    setDone(form);
    return buffer;
}

bool RequestService::isPlainFileName(const QString& id) {
    if (id.isEmpty() || id == QLatin1String(".") || id == QLatin1String("..")) return false;
    // The UTF-8 form is never shorter than the UTF-16 one: a longer text is refused before it
    // is encoded.
    if (id.size() > kMaxIdBytes) return false;
    for (qsizetype i = 0; i < id.size(); ++i) {
        const QChar c = id[i];
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
        if (c.isHighSurrogate() && i + 1 < id.size() && id[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            return false;
        }
    }
    return id.toUtf8().size() <= kMaxIdBytes;
}

// The steps of draw; every error raised here becomes "err.gif" in draw.
QString RequestService::drawSteps(int32_t xc, int32_t yc, double mp, const QString& id,
                                  int16_t mapWidth, int16_t mapHeight) {
    ConsoleWindow& form = window();
    PictureBox& box = form.picture();
    // Height and width are set together, so that a refused side changes neither.
    box.setOuterSize(roundToInt32(toSingle(mapWidth)), roundToInt32(toSingle(mapHeight)));
    setBusy(form);
    drawInto(form, xc, yc, mp);

    const QString bmpPath = settings_.tmpDir() + id + QStringLiteral(".bmp");
    if (!box.saveBmp(QFile::encodeName(bmpPath))) {
        raiseError(QDir(settings_.tmpDir()).exists() ? kErrFileAccess : kErrPathNotFound);
    }
    // One reading of the clock gives both the minute and the second, so that the two always
    // belong to the same moment.
    const QTime now = currentTime(settings_).time();
    const QString gifName =
        id + QString::number(now.minute()) + QString::number(now.second()) + QStringLiteral(".gif");
    ConverterBinding& converter = form.converter();
    converter.convert(QFile::encodeName(bmpPath), QFile::encodeName(settings_.tmpDir() + gifName),
                      false);
    const bool failed = converter.failed();
    if (!QFile::remove(bmpPath)) raiseError(kErrFileAccess);
    if (failed) {
        qWarning("draw \"%s\": the converter failed: %s", qPrintable(logSafe(id)),
                 qPrintable(logSafe(converter.lastError(), 1024)));
        return QString::fromLatin1(kErrorGif);
    }
    return gifName;
}

QString RequestService::draw(int32_t xc, int32_t yc, double mp, const QString& id, int16_t mapWidth,
                             int16_t mapHeight) {
    if (!isPlainFileName(id)) {
        qWarning("draw: refused the request identifier \"%s\"", qPrintable(logSafe(id)));
        return QString::fromLatin1(kErrorGif);
    }
    try {
        return drawSteps(xc, yc, mp, id, mapWidth, mapHeight);
    } catch (const RunTimeError& error) {
        qWarning("draw \"%s\": %s", qPrintable(logSafe(id)), qPrintable(error.message()));
        return QString::fromLatin1(kErrorGif);
    }
}

}  // namespace tessera
