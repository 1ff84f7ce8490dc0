' real_engine.vbs: a VBScript client of tessera.tesseraClass served by the real kestrel.dll
' with the sample data set, run by Wine's cscript. Prints "ok"/"FAIL" lines, "GIF <name>" for
' the map file it received; the exit status is the number of failures.
Option Explicit
Dim failures, t, name, bytes
failures = 0

Sub Check(ok, what)
    If ok Then
        WScript.Echo "ok   " & what
    Else
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

' A fresh server: end the one that an earlier client left running (another folder's).
Set t = CreateObject("tessera.tesseraClass")
On Error Resume Next
t.myend
On Error Goto 0
Set t = Nothing
Set t = CreateObject("tessera.tesseraClass")
name = t.draw(300000, 2771000, 10, "R01", 400, 300)
Check Left(name, 3) = "R01" And Right(name, 4) = ".gif", "draw returns a map file name (got " & name & ")"
WScript.Echo "GIF " & name

bytes = t.draw3(300000, 2771000, 10)
Check VarType(bytes) = 8209, "draw3 returns a byte array (VarType " & VarType(bytes) & ")"
Check t.show() = 0, "show returns 0"

' Wine's VBScript cannot index a byte array nor write one to a file: the C++ client saves
' draw3's image for Pillow. The server stays, its window showing the map, for a screenshot.
WScript.Quit failures
