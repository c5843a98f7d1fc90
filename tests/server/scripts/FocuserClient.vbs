' A late-bound client of the driver, as an astronomy program would be one:
' connect, read, move and wait for the move to end, meet a failure, disconnect.
' Each result is printed as Name=value for the test that runs this script.
Option Explicit
Dim focuser, started

' Wine's script host does not implement WScript.Sleep, so pauses watch the clock.
Sub Pause(seconds)
    Dim start
    start = Timer
    Do While Timer - start < seconds And Timer >= start
    Loop
End Sub

Set focuser = CreateObject("Tavrilen.Focuser")
WScript.Echo "Absolute=" & focuser.Absolute
focuser.Link = True
WScript.Echo "Link=" & focuser.Link
WScript.Echo "Position=" & focuser.Position
WScript.Echo "Temperature=" & focuser.Temperature

focuser.Move 1500
WScript.Echo "MovingAfterMove=" & focuser.IsMoving
started = Timer
Do While focuser.IsMoving And Timer - started < 10 And Timer >= started
    Pause 0.05
Loop
WScript.Echo "Position=" & focuser.Position

On Error Resume Next
focuser.Move 999999
WScript.Echo "Error=" & Hex(Err.Number) & "|" & Err.Description & "|" & Err.Source
Err.Clear
On Error GoTo 0

focuser.Link = False
WScript.Echo "Link=" & focuser.Link
