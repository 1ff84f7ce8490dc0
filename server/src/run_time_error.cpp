// run_time_error.cpp: standard texts of the server's run-time error numbers.
#include "run_time_error.h"

namespace tessera {

QString standardErrorText(int number) {
    switch (number) {
        case kErrInvalidCall:
            return QStringLiteral("Invalid procedure call or argument");
        case kErrOverflow:
            return QStringLiteral("Overflow");
        case kErrOutOfMemory:
            return QStringLiteral("Out of memory");
        case kErrSubscript:
            return QStringLiteral("Subscript out of range");
        case kErrDivisionByZero:
            return QStringLiteral("Division by zero");
        case kErrLoadingLibrary:
            return QStringLiteral("Error in loading DLL");
        case kErrFileNotFound:
            return QStringLiteral("File not found");
        case kErrFileAccess:
            return QStringLiteral("Path/File access error");
        case kErrPathNotFound:
            return QStringLiteral("Path not found");
        case kErrInvalidProperty:
            return QStringLiteral("Invalid property value");
        case kErrEntryPoint:
            return QStringLiteral("Can't find DLL entry point");
        default:
            return QStringLiteral("Application-defined or object-defined error");
    }
}

void raiseError(int number) {
    throw RunTimeError(number, standardErrorText(number));
}

}  // namespace tessera
