// bus_objects.h: tesseraClass on the session bus.
//
//   /tessera/tesseraClass       tessera.ClassFactory  CreateInstance() -> o
//   /tessera/tesseraClass/N     tessera._tesseraClass (the six methods) and tessera.Object
//                               Release()
//   /tessera/debug              tessera.Debug (test hooks only)
//
// The objects here only translate between the bus and the request service (ServiceHost over
// core::RequestService): arguments in, results or error replies (tessera.Error.E<number>,
// "NUMBER: TEXT") out. ServerBus keeps the
// instances, releases those whose client leaves the bus, and ends the process when no
// instance is alive and the console window is not loaded.
//
// An instance belongs to the bus connection that created it: a call or Release() from any
// other connection is refused with org.freedesktop.DBus.Error.AccessDenied. A connection
// holds at most kMaxInstancesPerClient live instances and the server kMaxInstances; a
// creation beyond either is refused with org.freedesktop.DBus.Error.LimitsExceeded.
#ifndef TESSERA_BUS_OBJECTS_H
#define TESSERA_BUS_OBJECTS_H

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <cstdint>
#include <functional>

#include "tessera_contract.h"

class QDBusServiceWatcher;

namespace tessera {

class ServiceHost;
class ServerBus;
namespace core {
class RunTimeError;
}

// Bus names and paths.
inline constexpr const char* kServiceName = contract::kProgId;
inline constexpr const char* kClassPath = "/tessera/tesseraClass";
inline constexpr const char* kDebugPath = "/tessera/debug";

// The name of the error reply of a run-time error: tessera.Error.E<number> (its message is
// "NUMBER: TEXT").
QString dbusErrorName(const core::RunTimeError& error);

// One tesseraClass instance. Its methods run the shared request service.
class InstanceObject : public QObject, protected QDBusContext {
    Q_OBJECT
  public:
    InstanceObject(ServiceHost& service, ServerBus& bus, QString path, QString owner);

    const QString& path() const { return path_; }
    const QString& owner() const { return owner_; }

  public slots:  // NOLINT(readability-redundant-access-specifiers): moc's slot section
    int myend();
    int show();
    int test(int a, int b);
    int draw2(int xc, int yc, double mp, const QByteArray& b, QByteArray& filled);
    QDBusVariant draw3(int xc, int yc, double mp);
    QString draw(int xc, int yc, double mp, const QString& ID, short MapW, short MapH);
    void Release();

  private:
    // Runs `call`; a run-time error becomes the error reply. Returns false after an error.
    bool guarded(const std::function<void()>& call);
    // True when the caller is the owner; otherwise sends the access-denied reply.
    bool callerIsOwner();

    ServiceHost& service_;
    ServerBus& bus_;
    QString path_;
    QString owner_;
};

// The class object.
class ClassFactoryObject : public QObject, protected QDBusContext {
    Q_OBJECT
  public:
    ClassFactoryObject(ServiceHost& service, ServerBus& bus);

  public slots:  // NOLINT(readability-redundant-access-specifiers): moc's slot section
    QDBusObjectPath CreateInstance();

  private:
    ServiceHost& service_;
    ServerBus& bus_;
};

// Test hooks: the window's controls and the engine binding's state.
class DebugObject : public QObject, protected QDBusContext {
    Q_OBJECT
  public:
    explicit DebugObject(ServiceHost& service);

  public slots:  // NOLINT(readability-redundant-access-specifiers): moc's slot section
    QVariantMap controls();
    void setText(const QString& control, const QString& text);
    QString press(const QString& control);
    void closeWindow();
    int engineState(bool& sameInstance, QString& loadedFrom);
    bool grabWindow(const QString& path);

  private:
    ServiceHost& service_;
};

class ServerBus : public QObject {
    Q_OBJECT
  public:
    // How long a started server waits for its first instance before it ends.
    static constexpr int kStartupIdleMs = 60000;
    // How often the server checks that its bus is still there (it ends when the bus is gone).
    static constexpr int kBusCheckMs = 1000;
    // Live instances one bus connection may hold, and the whole server.
    static constexpr int kMaxInstancesPerClient = 64;
    static constexpr int kMaxInstances = 1024;

    ServerBus(ServiceHost& service, QDBusConnection connection);

    // Exports the class object (and the debug object when `debugHooks`) and takes the bus
    // name. Returns an empty string on success, else why not.
    QString start(bool debugHooks);

    // Makes and exports a new instance owned by the bus client `owner`; returns its path, or
    // an empty string with `why` set when a limit refuses it.
    QString addInstance(const QString& owner, QString& why);
    // Unexports and deletes an instance, then checks whether the server should end.
    void releaseInstance(const QString& path);
    // Ends the process now: releases the bus name and leaves the event loop.
    void endNow();

  private:
    void clientLeft(const QString& owner);
    void checkLifetime();

    ServiceHost& service_;
    QDBusConnection connection_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QMap<QString, InstanceObject*> instances_;
    QMap<QString, int> perOwner_;  // live instances of each owner
    quint64 nextInstance_ = 1;
    int releasesSinceTrim_ = 0;
    bool everCreated_ = false;
    QTimer startupIdle_;
    QTimer busCheck_;
};

}  // namespace tessera

#endif  // TESSERA_BUS_OBJECTS_H
