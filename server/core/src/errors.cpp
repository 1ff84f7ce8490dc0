// errors.cpp: the table of error texts and the helpers that raise and catch run-time errors.
#include "tessera/core/errors.h"

#include <new>
#include <utility>

namespace tessera::core {

RunTimeError::RunTimeError(int number, std::string text)
    : std::runtime_error(std::to_string(number) + ": " + text),
      number_(number),
      text_(std::move(text)) {}

std::string RunTimeError::message() const {
    return std::to_string(number_) + ": " + text_;
}

const char* standardErrorText(int number) {
    switch (number) {
        case kErrInvalidCall:
            return "Invalid procedure call or argument";
        case kErrOverflow:
            return "Overflow";
        case kErrOutOfMemory:
            return "Out of memory";
        case kErrSubscript:
            return "Subscript out of range";
        case kErrDivisionByZero:
            return "Division by zero";
        case kErrTypeMismatch:
            return "Type mismatch";
        case kErrLoadingLibrary:
            return "Error in loading DLL";
        case kErrFileNotFound:
            return "File not found";
        case kErrFileAccess:
            return "Path/File access error";
        case kErrPathNotFound:
            return "Path not found";
        case kErrInvalidProperty:
            return "Invalid property value";
        case kErrEntryPoint:
            return "Can't find DLL entry point";
        default:
            return "Application-defined or object-defined error";
    }
}

void raiseError(int number) {
    throw RunTimeError(number, standardErrorText(number));
}

void raiseMissingEntryPoint(std::string_view entry, std::string_view library) {
    std::string text = standardErrorText(kErrEntryPoint);
    text.append(" ").append(entry).append(" in ").append(library);
    throw RunTimeError(kErrEntryPoint, std::move(text));
}

std::optional<RunTimeError> errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RunTimeError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return RunTimeError(kErrOutOfMemory, standardErrorText(kErrOutOfMemory));
    }
    return std::nullopt;
}

std::string operatorErrorText(const RunTimeError& error) {
    return "Run-time error '" + std::to_string(error.number()) + "':\n\n" + error.text();
}

}  // namespace tessera::core
