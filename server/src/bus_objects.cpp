// bus_objects.cpp: tesseraClass on the session bus.
#include "bus_objects.h"

#include <malloc.h>
#include <tessera/core/errors.h>
#include <tessera/core/limits.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QLabel>
#include <new>
#include <span>

#include "classfactory_adaptor.h"
#include "console_window.h"
#include "debug_adaptor.h"
#include "object_adaptor.h"
#include "server_log.h"
#include "service_host.h"
#include "tesseraclass_adaptor.h"

namespace tessera {

QString dbusErrorName(const core::RunTimeError& error) {
    return QStringLiteral("tessera.Error.E") + QString::number(error.number());
}

namespace {

// Sends the error reply for a run-time error ("NUMBER: TEXT") and logs it.
void replyError(const QDBusContext& context, const core::RunTimeError& error) {
    const QString message = QString::fromStdString(error.message());
    qInfo("%s failed: %s", qPrintable(logSafe(context.message().member())), qPrintable(message));
    context.sendErrorReply(dbusErrorName(error), message);
}

// A request identifier as the core takes it.
std::u16string_view units(const QString& text) {
    return std::u16string_view(QStringView(text).utf16(), static_cast<size_t>(text.size()));
}

}  // namespace

// ---- instances --------------------------------------------------------------------------

InstanceObject::InstanceObject(ServiceHost& service, ServerBus& bus, QString path, QString owner)
    : service_(service), bus_(bus), path_(std::move(path)), owner_(std::move(owner)) {
    new _tesseraClassAdaptor(this);
    new ObjectAdaptor(this);
}

bool InstanceObject::guarded(const std::function<void()>& call) {
    const auto error = core::errorOf(call);
    if (error) replyError(*this, *error);
    return !error;
}

bool InstanceObject::callerIsOwner() {
    const QString caller = message().service();
    if (caller == owner_) return true;
    qWarning("%s on %s refused: %s is not the connection that created it",
             qPrintable(logSafe(message().member())), qPrintable(path_),
             qPrintable(logSafe(caller)));
    sendErrorReply(QDBusError::AccessDenied,
                   QStringLiteral("The instance %1 belongs to the bus connection that created "
                                  "it; create an instance of your own with CreateInstance.")
                       .arg(path_));
    return false;
}

int InstanceObject::myend() {
    if (!callerIsOwner()) return 0;
    // The process ends inside the call: no reply is sent, and the caller learns that the
    // server left the bus.
    setDelayedReply(true);
    service_.service().myend();
    return 0;
}

int InstanceObject::show() {
    int result = 0;
    if (!callerIsOwner()) return result;
    guarded([&] { result = service_.service().show(); });
    return result;
}

int InstanceObject::test(int a, int b) {
    int result = 0;
    if (!callerIsOwner()) return result;
    guarded([&] { result = service_.service().test(a, b); });
    return result;
}

int InstanceObject::draw2(int xc, int yc, double mp, const QByteArray& b, QByteArray& filled) {
    int result = 0;
    if (!callerIsOwner()) return result;
    filled = b;
    // An empty array stands for one that is not allocated.
    const auto call = [&] {
        auto* data = reinterpret_cast<unsigned char*>(filled.data());
        result = service_.service().draw2(xc, yc, mp,
                                          std::span(data, static_cast<size_t>(filled.size())));
    };
    if (!guarded(call)) filled.clear();
    return result;
}

QDBusVariant InstanceObject::draw3(int xc, int yc, double mp) {
    QByteArray image;
    if (!callerIsOwner()) return QDBusVariant(QVariant(image));
    guarded([&] {
        const std::vector<unsigned char> bmp = service_.service().draw3(xc, yc, mp);
        image = QByteArray(reinterpret_cast<const char*>(bmp.data()),
                           static_cast<qsizetype>(bmp.size()));
    });
    return QDBusVariant(QVariant(image));
}

QString InstanceObject::draw(int xc, int yc, double mp, const QString& ID, short MapW, short MapH) {
    QString result = QString::fromLatin1(core::kErrorGif);
    if (!callerIsOwner()) return result;
    guarded([&] {
        result = QString::fromStdString(service_.service().draw(xc, yc, mp, units(ID), MapW, MapH));
    });
    return result;
}

void InstanceObject::Release() {
    if (!callerIsOwner()) return;
    // Deleting this object while its call runs is not safe: release after the reply.
    QMetaObject::invokeMethod(
        &bus_, [bus = &bus_, path = path_] { bus->releaseInstance(path); }, Qt::QueuedConnection);
}

// ---- class object -------------------------------------------------------------------------

ClassFactoryObject::ClassFactoryObject(ServiceHost& service, ServerBus& bus)
    : service_(service), bus_(bus) {
    new ClassFactoryAdaptor(this);
}

QDBusObjectPath ClassFactoryObject::CreateInstance() {
    if (const auto error = core::errorOf([&] { service_.service().initialise(); })) {
        replyError(*this, *error);
        return QDBusObjectPath(QStringLiteral("/"));
    }
    QString why;
    const QString path = bus_.addInstance(message().service(), why);
    if (path.isEmpty()) {
        sendErrorReply(QDBusError::LimitsExceeded, why);
        return QDBusObjectPath(QStringLiteral("/"));
    }
    return QDBusObjectPath(path);
}

// ---- test hooks ---------------------------------------------------------------------------

DebugObject::DebugObject(ServiceHost& service) : service_(service) {
    new DebugAdaptor(this);
}

QVariantMap DebugObject::controls() {
    QVariantMap texts;
    if (!service_.service().windowLoaded()) return texts;
    ConsoleWindow& form = service_.window();
    for (const core::ControlEntry& entry : core::kControls) {
        if (entry.kind == core::ControlKind::kPicture) continue;
        texts.insert(QLatin1String(entry.name), form.controlText(entry.id));
    }
    texts.insert(QStringLiteral("caption"), form.windowTitle());
    texts.insert(QStringLiteral("visible"),
                 form.isVisible() ? QStringLiteral("1") : QStringLiteral("0"));
    const PictureBox& box = form.pictureBox();
    texts.insert(QStringLiteral("P"),
                 QStringLiteral("%1 %2").arg(box.innerWidth()).arg(box.innerHeight()));
    texts.insert(QStringLiteral("P.outer"),
                 QStringLiteral("%1 %2").arg(box.width()).arg(box.height()));
    return texts;
}

namespace {

// The control named `name` when it is of the kind `kind`, else null.
const core::ControlEntry* controlOfKind(const QString& name, core::ControlKind kind) {
    const core::ControlEntry* entry = core::findControl(name.toStdString());
    return entry != nullptr && entry->kind == kind ? entry : nullptr;
}

}  // namespace

void DebugObject::setText(const QString& control, const QString& text) {
    const core::ControlEntry* box = controlOfKind(control, core::ControlKind::kTextBox);
    const auto error = core::errorOf([&] {
        ConsoleWindow& form = service_.window();
        if (box != nullptr) form.setText(box->id, text.toStdString());
    });
    if (error) {
        replyError(*this, *error);
    } else if (box == nullptr) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no text box ") + control);
    }
}

QString DebugObject::press(const QString& control) {
    const core::ControlEntry* button = controlOfKind(control, core::ControlKind::kButton);
    const auto error = core::errorOf([&] {
        ConsoleWindow& form = service_.window();
        if (button != nullptr) core::runButton(form, service_.engine(), button->id);
    });
    if (error) return QString::fromStdString(error->message());
    if (button == nullptr) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no button ") + control);
    }
    return QString();
}

void DebugObject::closeWindow() {
    if (service_.service().windowLoaded()) service_.window().close();
}

int DebugObject::engineState(bool& sameInstance, QString& loadedFrom) {
    sameInstance = service_.engine().sameInstance();
    loadedFrom = service_.engine().loadedFrom();
    return service_.engine().initCalls();
}

bool DebugObject::grabWindow(const QString& path) {
    if (!service_.service().windowLoaded()) return false;
    return service_.window().grab().save(path, "PNG");
}

// ---- bus registration and lifetime ----------------------------------------------------------

ServerBus::ServerBus(ServiceHost& service, QDBusConnection connection)
    : service_(service), connection_(std::move(connection)) {
    watcher_ = new QDBusServiceWatcher(this);
    watcher_->setConnection(connection_);
    watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &ServerBus::clientLeft);
    connect(&service_, &ServiceHost::windowUnloadedSignal, this, &ServerBus::checkLifetime);
    connect(&service_, &ServiceHost::endRequestedSignal, this, &ServerBus::endNow);
    startupIdle_.setSingleShot(true);
    startupIdle_.setInterval(kStartupIdleMs);
    connect(&startupIdle_, &QTimer::timeout, this, [this] {
        if (!everCreated_ && !service_.service().windowLoaded()) {
            qInfo("no instance was created: ending");
            endNow();
        }
    });
    busCheck_.setInterval(kBusCheckMs);
    connect(&busCheck_, &QTimer::timeout, this, [this] {
        if (!connection_.isConnected()) {
            qWarning("the bus connection is gone: ending");
            QCoreApplication::exit(1);
        }
    });
}

QString ServerBus::start(bool debugHooks) {
    if (!connection_.isConnected()) {
        return QStringLiteral("no session bus: ") + connection_.lastError().message();
    }
    auto* factory = new ClassFactoryObject(service_, *this);
    factory->setParent(this);
    if (!connection_.registerObject(QLatin1String(kClassPath), factory)) {
        return QStringLiteral("cannot export %1: %2")
            .arg(QLatin1String(kClassPath), connection_.lastError().message());
    }
    if (debugHooks) {
        auto* debug = new DebugObject(service_);
        debug->setParent(this);
        connection_.registerObject(QLatin1String(kDebugPath), debug);
    }
    QDBusConnectionInterface* bus = connection_.interface();
    const auto reply = bus->registerService(QLatin1String(kServiceName),
                                            QDBusConnectionInterface::DontQueueService,
                                            QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        return QStringLiteral("cannot take the name %1: %2")
            .arg(QLatin1String(kServiceName), reply.error().message());
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        return QStringLiteral("the name %1 is taken by another process")
            .arg(QLatin1String(kServiceName));
    }
    startupIdle_.start();
    busCheck_.start();
    return QString();
}

QString ServerBus::addInstance(const QString& owner, QString& why) {
    const int held = perOwner_.value(owner, 0);
    if (held >= kMaxInstancesPerClient) {
        why = QStringLiteral(
                  "This bus connection already holds %1 tesseraClass instances, the "
                  "most one connection may hold; release one first.")
                  .arg(kMaxInstancesPerClient);
    } else if (instances_.size() >= kMaxInstances) {
        why = QStringLiteral(
                  "The server already holds %1 tesseraClass instances, the most it "
                  "keeps; try again when other clients have released theirs.")
                  .arg(kMaxInstances);
    }
    if (!why.isEmpty()) {
        qWarning("instance for %s refused: %s", qPrintable(logSafe(owner)), qPrintable(why));
        return QString();
    }
    QString path = QStringLiteral("%1/%2").arg(QLatin1String(kClassPath)).arg(nextInstance_++);
    auto* instance = new InstanceObject(service_, *this, path, owner);
    instance->setParent(this);
    connection_.registerObject(path, instance);
    instances_.insert(path, instance);
    perOwner_.insert(owner, held + 1);
    everCreated_ = true;
    if (held == 0 && !owner.isEmpty()) watcher_->addWatchedService(owner);
    qInfo("instance %s created for %s", qPrintable(path), qPrintable(logSafe(owner)));
    return path;
}

void ServerBus::releaseInstance(const QString& path) {
    InstanceObject* instance = instances_.take(path);
    if (instance == nullptr) return;
    connection_.unregisterObject(path);
    const QString owner = instance->owner();
    delete instance;
    qInfo("instance %s released", qPrintable(path));
    const int left = perOwner_.value(owner, 1) - 1;
    if (left > 0) {
        perOwner_.insert(owner, left);
    } else {
        perOwner_.remove(owner);
        watcher_->removeWatchedService(owner);
    }
    // Give the freed memory of the instance back to the system rather than keep it in the
    // allocator's free lists, where many instances made and released by a busy client would
    // otherwise stay counted in the server's resident size.
    if (++releasesSinceTrim_ >= kMaxInstancesPerClient || instances_.size() <= 1) {
        releasesSinceTrim_ = 0;
        malloc_trim(0);
    }
    checkLifetime();
}

void ServerBus::clientLeft(const QString& owner) {
    QStringList paths;
    for (InstanceObject* instance : std::as_const(instances_)) {
        if (instance->owner() == owner) paths.append(instance->path());
    }
    qInfo("client %s left the bus: releasing %lld instance(s)", qPrintable(logSafe(owner)),
          static_cast<long long>(paths.size()));
    for (const QString& path : paths) releaseInstance(path);
    watcher_->removeWatchedService(owner);
}

void ServerBus::checkLifetime() {
    if (instances_.isEmpty() && !service_.service().windowLoaded() && everCreated_) {
        qInfo("no instance alive and the window is not loaded: ending");
        endNow();
    }
}

void ServerBus::endNow() {
    // Give the name back first, so that a client's next call starts a new server.
    connection_.interface()->unregisterService(QLatin1String(kServiceName));
    QCoreApplication::exit(0);
}

}  // namespace tessera
