// run_time_error.h: the run-time errors of the server's methods, with their classic numbers
// and texts. The automation layer hands them to the client as exceptions: the HRESULT
// 0x800A0000 + number (what a script reads as Err.Number) and the text as the description.
#ifndef TESSERA_WIN_RUN_TIME_ERROR_H
#define TESSERA_WIN_RUN_TIME_ERROR_H

#include <windows.h>

#include <stdexcept>
#include <string>

namespace tessera {

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

class RunTimeError : public std::runtime_error {
  public:
    RunTimeError(int number, std::wstring text)
        : std::runtime_error("run-time error"), number_(number), text_(std::move(text)) {}
    int number() const { return number_; }
    const std::wstring& text() const { return text_; }
    // The HRESULT of the error: severity error, facility control, code = number.
    HRESULT hresult() const { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number_); }

  private:
    int number_;
    std::wstring text_;
};

// The standard text of an error number; "Application-defined or object-defined error" for
// numbers without one.
std::wstring standardErrorText(int number);

[[noreturn]] void raiseError(int number);

}  // namespace tessera

#endif  // TESSERA_WIN_RUN_TIME_ERROR_H
