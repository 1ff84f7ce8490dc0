// tessera/core/errors.h: the run-time errors of the request server's methods and window
// handlers, with their classic automation numbers and texts.
//
// The adaptors hand them to clients in their own way: the D-Bus server as error replies
// tessera.Error.E<number> with the message "NUMBER: TEXT", the COM server as exceptions with
// the code 0x800A0000 + number and the text as the description.
#ifndef TESSERA_CORE_ERRORS_H
#define TESSERA_CORE_ERRORS_H

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessera::core {

// The error numbers and their standard texts. Both servers use the one table; the D-Bus
// server never raises 13, which only the conversion of a COM argument or result can give.
enum ErrorNumber : int {
    kErrInvalidCall = 5,        // Invalid procedure call or argument
    kErrOverflow = 6,           // Overflow
    kErrOutOfMemory = 7,        // Out of memory
    kErrSubscript = 9,          // Subscript out of range
    kErrDivisionByZero = 11,    // Division by zero
    kErrTypeMismatch = 13,      // Type mismatch
    kErrLoadingLibrary = 48,    // Error in loading DLL
    kErrFileNotFound = 53,      // File not found
    kErrFileAccess = 75,        // Path/File access error
    kErrPathNotFound = 76,      // Path not found
    kErrInvalidProperty = 380,  // Invalid property value
    kErrEntryPoint = 453,       // Can't find DLL entry point
};

// A run-time error: its number and its text (UTF-8). Thrown inside the server only; the
// adaptors catch it at the edge of every call and handler.
class RunTimeError : public std::runtime_error {
  public:
    RunTimeError(int number, std::string text);

    int number() const { return number_; }
    const std::string& text() const { return text_; }
    // "NUMBER: TEXT".
    std::string message() const;

  private:
    int number_;
    std::string text_;
};

// The standard text of an error number ("Overflow" for 6); "Application-defined or
// object-defined error" for a number the table does not hold.
const char* standardErrorText(int number);

// Throws the error `number` with its standard text.
[[noreturn]] void raiseError(int number);

// Throws error 453 with the text "Can't find DLL entry point ENTRY in LIBRARY".
[[noreturn]] void raiseMissingEntryPoint(std::string_view entry, std::string_view library);

// Runs `call` and returns the run-time error it raised, or nothing when it ran through. An
// allocation failure counts as error 7 (Out of memory); other exceptions pass.
std::optional<RunTimeError> errorOf(const std::function<void()>& call);

// The text an operator sees for an error of a window handler: "Run-time error 'N':" and, after
// a blank line, the error's text.
std::string operatorErrorText(const RunTimeError& error);

}  // namespace tessera::core

#endif  // TESSERA_CORE_ERRORS_H
