// A late-bound client of the driver, as an astronomy program would be one:
// connect, read, move and wait for the move to end, meet a failure, disconnect.
// Each result is printed as Name=value for the test that runs this script.
// Wine's script host does not implement WScript.Sleep, so pauses watch the clock.
function pause(ms) {
    var start = new Date().getTime();
    while (new Date().getTime() - start < ms) {
    }
}

var focuser = new ActiveXObject("Tavrilen.Focuser");
WScript.Echo("Absolute=" + focuser.Absolute);
focuser.Link = true;
WScript.Echo("Link=" + focuser.Link);
WScript.Echo("Position=" + focuser.Position);
WScript.Echo("Temperature=" + focuser.Temperature);

focuser.Move(1500);
WScript.Echo("MovingAfterMove=" + focuser.IsMoving);
var started = new Date().getTime();
while (focuser.IsMoving && new Date().getTime() - started < 10000) {
    pause(50);
}
WScript.Echo("Position=" + focuser.Position);

try {
    focuser.Move(999999);
    WScript.Echo("Error=none");
} catch (e) {
    // JScript's error object carries no source, only the description.
    WScript.Echo("Error=" + e.description + "|" + e.source);
}

focuser.Link = false;
WScript.Echo("Link=" + focuser.Link);
