' Creates the driver by its ProgID, as an astronomy program does, and prints
' what the installer test checks as Name=value lines. Nothing here needs the
' focuser itself: the properties read work unlinked.
Option Explicit
Dim focuser, position

On Error Resume Next
Set focuser = CreateObject("Tavrilen.Focuser")
If Err.Number <> 0 Then
    WScript.Echo "Create=" & Hex(Err.Number)
    WScript.Quit 0
End If
On Error GoTo 0
WScript.Echo "Create=0"
WScript.Echo "Absolute=" & focuser.Absolute
WScript.Echo "Link=" & focuser.Link
WScript.Echo "MaxStep=" & focuser.MaxStep

' Unlinked, Position fails; the error's source is the registered ProgID.
On Error Resume Next
position = focuser.Position
WScript.Echo "Error=" & Hex(Err.Number) & "|" & Err.Description & "|" & Err.Source
Err.Clear
