// Drives the registered Valtrove control as a JScript host does: the worked examples with the data
// file compared byte for byte, Enumerator over both collections, keys without regard to case,
// getters called as methods, the ambiguity warning (the message box, read and closed by the helper
// program) and the errors a host receives as exceptions. Arguments: a scratch folder and the helper
// program. Ends with an explicit exit code, and prints VALTROVE-SCRIPT-OK last when every check passed.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");
var work = WScript.Arguments(0);
var helper = "\"" + WScript.Arguments(1) + "\"";
var dataPath = work + "\\values.txt";
var warnLog = work + "\\warnings.log";
// Every warning box is answered and written to warnLog until the file "stop" exists.
var boxes = shell.Exec(helper + " boxes \"" + warnLog + "\" \"" + work + "\\stop\"");
var failures = 0, checks = 0;
var warning = "Valtrove Object Error\tError, Ambiguous or Semi-Ambiguous Value Name\ticon OK\r\n";

function check(ok, what) {
  checks++;
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}

function quoted(text) { return "\"" + text + "\"\r\n"; }
function dataFileOf(declarations, values) {
  return quoted("<BEGINVALUEDECLARE>" + declarations + "<ENDVALUEDECLARE>") + quoted(values);
}
function readAll(path) {
  if (!fso.FileExists(path)) return "<missing>";
  var f = fso.OpenTextFile(path, 1);
  var text = f.AtEndOfStream ? "" : f.ReadAll();
  f.Close();
  return text;
}
function checkFile(expected, what) {
  var got = readAll(dataPath);
  check(got === expected, what + ": the file holds [" + got + "]");
}
function joined(items) {
  var text = "";
  for (var e = new Enumerator(items); !e.atEnd(); e.moveNext()) text += "[" + e.item() + "]";
  return text;
}
// The automation error number a call raised (0 when none).
function errorOf(call) {
  try {
    call();
  } catch (e) {
    return e.number & 0xFFFF;
  }
  return 0;
}

var c = new ActiveXObject("ValtroveCTL.Valtrove");
check(c.DataFile === "*.txt", "DataFile starts as *.txt");
check(c.Enabled === true && c.AutomaticRewrite === false, "Enabled true, AutomaticRewrite false");

// ---- Worked example ------------------------------------------------------------------------------
c.DataFile = dataPath;
c.GetDataValues();
checkFile(dataFileOf("(NULL)", "NULL (0)"), "a missing file gets the default content");
check(c.AllData.Count === 0, "the load that creates the file publishes nothing");
c.GetDataValues();
check(joined(c.ValueList) === "[NULL]", "second load: " + joined(c.ValueList));

c.NewValueData = "12";
c.AddDataValue("Speed");
checkFile(dataFileOf("(NULL)(Speed)", "NULL (0)Speed (12) "), "add Speed, 12");
c.NewValueData = "auto";
c.AddDataValue("Mode");
checkFile(dataFileOf("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) "), "add Mode, auto");
c.NewValueData = "15";
c.RewriteDataValue("Speed");
checkFile(dataFileOf("(NULL)(Speed)(Mode)", "NULL (0)Speed (15)  Mode (auto) "), "rewrite Speed, 15");
c.RemoveDataValue("Speed");
checkFile(dataFileOf("(NULL)(Mode)", "NULL (0)  Mode (auto) "), "remove Speed");

// ---- Collections ---------------------------------------------------------------------------------
check(joined(c.ValueList) === "[NULL][Mode]", "ValueList: " + joined(c.ValueList));
check(joined(c.AllData) === "[0][auto]", "AllData: " + joined(c.AllData));
check(c.AllData("mode") === "auto" && c.AllData.Item("MODE") === "auto", "keys without regard to case");
check(c.AllData(1) === "0" && c.ValueList.Item(2) === "Mode", "items by 1-based index");
check(c.AllData.Count === 2 && c.AllData.Count() === 2, "Count as property and as method");
var old = c.ValueList;
c.GetDataValues();
check(old !== c.ValueList && old.Count === 2, "a load starts new collections");
c.AllData = c.ValueList;
check(joined(c.AllData) === "[NULL][Mode]", "AllData set to ValueList's collection");

// ---- Ambiguity warning ---------------------------------------------------------------------------
c.NewValueData = "x";
c.AddDataValue("Mode");
c.AddDataValue("od");
checkFile(dataFileOf("(NULL)(Mode)", "NULL (0)  Mode (auto) "), "ambiguous adds leave the file unchanged");
check(readAll(warnLog) === warning + warning, "two warnings: [" + readAll(warnLog) + "]");
c.AddDataValue("mode");
checkFile(dataFileOf("(NULL)(Mode)(mode)", "NULL (0)  Mode (auto) mode (x) "), "the ambiguity test regards case");
c.GetDataValues();
check(joined(c.ValueList) === "[NULL][Mode]", "a load stops at a name differing only in case");

// ---- Errors --------------------------------------------------------------------------------------
check(errorOf(function () { c.AddDataValue("a(b"); }) === 5, "a name with ( gives error 5");
check(errorOf(function () { c.RemoveDataValue("a\nb"); }) === 5, "a name with LF gives error 5");
check(errorOf(function () { return c.ValueList(9); }) === 9, "index out of range gives error 9");
check(errorOf(function () { return c.AllData("none"); }) === 5, "an unknown key gives error 5");
check(errorOf(function () { c.AllData.Add("v", "Mode"); }) === 457, "a duplicate key gives error 457");
var described = "";
try { c.RewriteDataValue("x)"); } catch (e) { described = e.description; }
check(described.indexOf("Invalid procedure call or argument") === 0, "description: " + described);
checkFile(dataFileOf("(NULL)(Mode)(mode)", "NULL (0)  Mode (auto) mode (x) "), "refused input leaves the file unchanged");

// ---- DataFile holds any value --------------------------------------------------------------------
c.DataFile = 3.5;
check(c.DataFile === 3.5, "a number reads back as the same number");
c.DataFile = null;
check(c.DataFile === null, "null reads back as null");
check(errorOf(function () { c.GetDataValues(); }) === 0, "a DataFile that names no file loads quietly");
c.DataFile = dataPath;
c.ClearAll();
checkFile(dataFileOf("(NULL)", "NULL (0)"), "ClearAll writes the default content");

fso.CreateTextFile(work + "\\stop", true).Close();
while (boxes.Status === 0) shell.Run(helper + " sleep 50", 0, true);

WScript.Echo("checks=" + checks + " failures=" + failures);
if (failures === 0) {
  WScript.Echo("VALTROVE-SCRIPT-OK");
  WScript.Quit(0);
}
WScript.Quit(1);
