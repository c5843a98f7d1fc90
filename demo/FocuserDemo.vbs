' The demo session: a late-bound scripting client drives the focuser through
' its driver, as an imaging program would: link, read, move while watching the
' position, meet a refusal, unlink. Anything unexpected is printed as a line
' starting with FAILED, and the last line is always "End of session". The
' verdict is the caller's to give, from these lines: the script host ends with
' exit code 0 even when a script fails.
Option Explicit

Sub Say(text)
    WScript.Echo text
End Sub

Sub Fail(text)
    Say "FAILED: " & text
End Sub

' True when the step just taken went through; otherwise reports it.
Function Succeeded(stepName)
    Succeeded = (Err.Number = 0)
    If Not Succeeded Then
        Fail stepName & ": " & Err.Description & " (error 0x" & Hex(Err.Number) & ")"
        Err.Clear
    End If
End Function

' The script host here has no WScript.Sleep, so pauses watch the clock
' (and give up at midnight, when Timer starts again from 0).
Sub Pause(seconds)
    Dim start
    start = Timer
    Do While Timer - start < seconds And Timer >= start
    Loop
End Sub

' One session; a step that leaves nothing to go on with ends it early.
Sub RunSession()
    Dim focuser, position, maximum, target, beyond, started, moving
    On Error Resume Next

    Set focuser = CreateObject("Tavrilen.Focuser")
    If Not Succeeded("create the driver by its ProgID Tavrilen.Focuser") Then Exit Sub
    Say "Created the driver by its ProgID, Tavrilen.Focuser"

    focuser.Link = True
    If Not Succeeded("link to the focuser") Then Exit Sub
    Say "Linked:           " & focuser.Link

    position = focuser.Position
    If Succeeded("read the position") Then Say "Position:         " & position & " steps"
    Say "Temperature:      " & focuser.Temperature & " C"
    Call Succeeded("read the temperature")
    Say "Step size:        " & focuser.StepSize & " microns"
    maximum = focuser.MaxStep
    If Succeeded("read the maximum position") Then Say "Maximum position: " & maximum & " steps"

    target = position + 2000
    If target > maximum Then target = position - 2000
    focuser.Move target
    If Succeeded("move to " & target) Then
        Say "Moving to " & target & ":"
        started = Timer
        Do
            moving = focuser.IsMoving
            If Not Succeeded("ask whether it moves") Then Exit Do
            position = focuser.Position
            If Not Succeeded("read the position") Then Exit Do
            If moving Then
                Say "    position " & position & "   moving"
            Else
                Say "    position " & position & "   at rest"
                Exit Do
            End If
            If Timer - started > 30 Or Timer < started Then
                Fail "the move did not end within 30 s"
                Exit Do
            End If
            Pause 0.25
        Loop
        If position <> target Then Fail "the focuser stopped at " & position & " instead of " & target
    End If

    beyond = maximum + 1000
    focuser.Move beyond
    If Err.Number = 0 Then
        Fail "a move to " & beyond & ", beyond the maximum, was accepted"
    Else
        Say "Move to " & beyond & " (beyond the maximum) is refused: """ & Err.Description & """ from " & Err.Source
        Err.Clear
    End If

    focuser.Link = False
    If Succeeded("unlink") Then Say "Linked:           " & focuser.Link
End Sub

RunSession
Say "End of session"
