// client.js: a JScript client of tessera.tesseraClass, run by Wine's cscript. Prints
// "ok"/"FAIL" lines and "GIF <name>" for each map file it received; the exit status is the
// number of failures. (Wine's JScript cannot take a byte array: draw2 and draw3 are left to
// the VBScript and C++ clients.)
var failures = 0;

function check(ok, what) {
    WScript.Echo((ok ? "ok   " : "FAIL ") + what);
    if (!ok) failures++;
}

// A fresh server: end the one that may still run from an earlier client.
var t = new ActiveXObject("tessera.tesseraClass");
try {
    t.myend();
} catch (e) {
}
t = null;
CollectGarbage();
t = new ActiveXObject("tessera.tesseraClass");

var a = 1, b = 2;
check(t.test(a, b) == 4, "test 1, 2 on a fresh server gives 4");
check(t.test(a, b) == 5, "the second test 1, 2 gives 5");

var number = 0, text = "";
try {
    t.test(2147483647, 1);
} catch (e) {
    number = e.number & 0xFFFF;
    text = e.description;
}
check(number == 6 && text == "Overflow",
      "test 2147483647, 1 fails with error 6 Overflow (got " + number + " " + text + ")");

var name = t.draw(301234, 2771234, 20, "J7", 120, 90);
check(/^J7[0-9]+\.gif$/.test(name), "draw returns ID, minute, second and .gif (got " + name + ")");
WScript.Echo("GIF " + name);
// A scale the engine refuses still gives the cleared picture box as a map.
name = t.draw(301234, 2771234, 0.5, "J8", 120, 90);
check(/^J8[0-9]+\.gif$/.test(name), "draw at a refused scale returns a map (got " + name + ")");
WScript.Echo("GIF " + name);

WScript.Quit(failures);
