// errors_test.cpp: the one table of run-time errors and the helpers that raise and catch them.
#include "tessera/core/errors.h"

#include <gtest/gtest.h>

#include <new>

namespace tessera::core {
namespace {

TEST(RunTimeErrors, CarryTheirNumberTextAndMessage) {
    const RunTimeError error(6, standardErrorText(6));
    EXPECT_EQ(error.number(), 6);
    EXPECT_EQ(error.text(), "Overflow");
    EXPECT_EQ(error.message(), "6: Overflow");
    EXPECT_STREQ(error.what(), "6: Overflow");
}

TEST(RunTimeErrors, OneTableServesBothServers) {
    const struct {
        int number;
        const char* text;
    } table[] = {
        {5, "Invalid procedure call or argument"},
        {6, "Overflow"},
        {7, "Out of memory"},
        {9, "Subscript out of range"},
        {11, "Division by zero"},
        {13, "Type mismatch"},
        {48, "Error in loading DLL"},
        {53, "File not found"},
        {75, "Path/File access error"},
        {76, "Path not found"},
        {380, "Invalid property value"},
        {453, "Can't find DLL entry point"},
        {1000, "Application-defined or object-defined error"},
    };
    for (const auto& row : table) EXPECT_STREQ(standardErrorText(row.number), row.text);
}

TEST(RunTimeErrors, AMissingEntryPointNamesTheEntryAndTheLibrary) {
    const auto error = errorOf([] { raiseMissingEntryPoint("sdlldraw", "kestrel.dll"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), 453);
    EXPECT_EQ(error->text(), "Can't find DLL entry point sdlldraw in kestrel.dll");
}

TEST(RunTimeErrors, AnAllocationFailureIsOutOfMemoryAndOtherExceptionsPass) {
    EXPECT_FALSE(errorOf([] {}));
    EXPECT_EQ(errorOf([] { raiseError(9); })->message(), "9: Subscript out of range");
    EXPECT_EQ(errorOf([] { throw std::bad_alloc(); })->number(), 7);
    EXPECT_THROW(errorOf([] { throw std::logic_error("not ours"); }), std::logic_error);
}

TEST(RunTimeErrors, TheOperatorSeesTheNumberQuotedAndTheText) {
    EXPECT_EQ(operatorErrorText(RunTimeError(380, "Invalid property value")),
              "Run-time error '380':\n\nInvalid property value");
}

}  // namespace
}  // namespace tessera::core
