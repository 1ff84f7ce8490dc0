' client.vbs: a VBScript client of tessera.tesseraClass, run by Wine's cscript.
' Prints "ok"/"FAIL" lines and "GIF <name>" for each map file it received; the exit status
' is the number of failures.
Option Explicit
Dim failures, t, a, b, big, x, name, re, bytes
failures = 0

Sub Check(ok, what)
    If ok Then
        WScript.Echo "ok   " & what
    Else
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

' A fresh server: end the one that may still run from an earlier client.
Set t = CreateObject("tessera.tesseraClass")
On Error Resume Next
t.myend
On Error Goto 0
Set t = Nothing
Set t = CreateObject("tessera.tesseraClass")

' Variables reach the server as variants by reference, literals by value.
a = 1
b = 2
Check t.test(a, b) = 4, "test 1, 2 on a fresh server gives 4"
Check t.test(1, 2) = 5, "the second test 1, 2 gives 5"

On Error Resume Next
big = 2147483647
x = t.test(big, 1)
Check Err.Number = 6 And Err.Description = "Overflow", _
      "test 2147483647, 1 fails with error 6 Overflow (got " & Err.Number & " " & Err.Description & ")"
Err.Clear
On Error Goto 0

name = t.draw(301234, 2771234, 20, "V12", 200, 150)
Set re = New RegExp
re.Pattern = "^V12[0-9]+\.gif$"
Check re.Test(name), "draw returns ID, minute, second and .gif (got " & name & ")"
WScript.Echo "GIF " & name
Check t.draw(301234, 2771234, 20, "..\V12", 200, 150) = "err.gif", _
      "draw refuses an ID that is not a plain file name"

bytes = t.draw3(301234, 2771234, 20)
Check VarType(bytes) = 8209, "draw3 returns a byte array (VarType " & VarType(bytes) & ")"

' The BMP of the last view is much shorter than the room draw2 needs for the same view.
On Error Resume Next
x = t.draw2(301234, 2771234, 20, bytes)
Check Err.Number = 9 And Err.Description = "Subscript out of range", _
      "draw2 with a short array fails with error 9 (got " & Err.Number & " " & Err.Description & ")"
Err.Clear
On Error Goto 0

Check t.show() = 0, "show returns 0"

WScript.Quit failures
