// com_server.h: the automation side of the server: the tesseraClass objects, their class
// factory, the type library and the registration.
#ifndef TESSERA_WIN_COM_SERVER_H
#define TESSERA_WIN_COM_SERVER_H

#include <windows.h>

#include <string>

namespace tessera {

class ServiceHost;

// Loads the embedded type library and keeps the type description of _tesseraClass. False
// when the program's type library is missing or unreadable.
bool loadTypeLibrary();
void releaseTypeLibrary();

// Registers the class factory (from the message-loop thread) for `service`; false on failure.
bool startClassFactory(ServiceHost& service);
void stopClassFactory();

// Called when the window has been unloaded by the operator: the server ends when no object is
// alive either.
void windowUnloaded();

// /regserver and /unregserver: the class, its programmatic identifier, the interface and the
// type library. Return 0 on success, 1 on failure, with the reason in `why`.
int registerServer(std::wstring& why);
int unregisterServer(std::wstring& why);

// The folder of the program, without a trailing separator, and its full file name.
std::wstring programPath();
std::wstring programFolder();

}  // namespace tessera

#endif  // TESSERA_WIN_COM_SERVER_H
