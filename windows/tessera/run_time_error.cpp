// run_time_error.cpp: standard texts of the server's run-time error numbers.
#include "run_time_error.h"

namespace tessera {

std::wstring standardErrorText(int number) {
    switch (number) {
        case kErrInvalidCall:
            return L"Invalid procedure call or argument";
        case kErrOverflow:
            return L"Overflow";
        case kErrOutOfMemory:
            return L"Out of memory";
        case kErrSubscript:
            return L"Subscript out of range";
        case kErrDivisionByZero:
            return L"Division by zero";
        case kErrTypeMismatch:
            return L"Type mismatch";
        case kErrLoadingLibrary:
            return L"Error in loading DLL";
        case kErrFileNotFound:
            return L"File not found";
        case kErrFileAccess:
            return L"Path/File access error";
        case kErrPathNotFound:
            return L"Path not found";
        case kErrInvalidProperty:
            return L"Invalid property value";
        case kErrEntryPoint:
            return L"Can't find DLL entry point";
        default:
            return L"Application-defined or object-defined error";
    }
}

void raiseError(int number) {
    throw RunTimeError(number, standardErrorText(number));
}

}  // namespace tessera
