// run_time_error.h: the run-time errors that the server's methods and window handlers raise.
//
// Errors carry the classic automation error numbers and texts; the D-Bus layer turns them into
// error replies named tessera.Error.E<number> with the message "NUMBER: TEXT".
#ifndef TESSERA_RUN_TIME_ERROR_H
#define TESSERA_RUN_TIME_ERROR_H

#include <QString>
#include <stdexcept>

namespace tessera {

// Error numbers used by the server.
enum ErrorNumber : int {
    kErrInvalidCall = 5,        // Invalid procedure call or argument
    kErrOverflow = 6,           // Overflow
    kErrOutOfMemory = 7,        // Out of memory
    kErrSubscript = 9,          // Subscript out of range
    kErrDivisionByZero = 11,    // Division by zero
    kErrLoadingLibrary = 48,    // Error in loading DLL
    kErrFileNotFound = 53,      // File not found
    kErrFileAccess = 75,        // Path/File access error
    kErrPathNotFound = 76,      // Path not found
    kErrInvalidProperty = 380,  // Invalid property value
    kErrEntryPoint = 453,       // Can't find DLL entry point
};

// A run-time error: number and text. Thrown inside the server only; never crosses a C export.
class RunTimeError : public std::runtime_error {
  public:
    RunTimeError(int number, const QString& text)
        : std::runtime_error(text.toStdString()), number_(number), text_(text) {}

    int number() const { return number_; }
    const QString& text() const { return text_; }
    // "NUMBER: TEXT", the message of the D-Bus error reply.
    QString message() const { return QString::number(number_) + QStringLiteral(": ") + text_; }
    // "tessera.Error.E<NUMBER>", the name of the D-Bus error reply.
    QString dbusName() const {
        return QStringLiteral("tessera.Error.E") + QString::number(number_);
    }

  private:
    int number_;
    QString text_;
};

// The standard text of an error number ("Overflow" for 6); "Application-defined or
// object-defined error" for numbers without one.
QString standardErrorText(int number);

// Throws the error `number` with its standard text.
[[noreturn]] void raiseError(int number);

}  // namespace tessera

#endif  // TESSERA_RUN_TIME_ERROR_H
