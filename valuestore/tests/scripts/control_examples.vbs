' Drives the registered Valtrove control as a VBScript host does: the worked examples with the data
' file compared byte for byte, For Each over both collections, keys without regard to case, names
' passed by reference and by value, the ambiguity warning (the message box, read and closed by the
' helper program) and the errors a host receives. Arguments: a scratch folder and the helper program.
' Ends with an explicit exit code, and prints VALTROVE-SCRIPT-OK last when every check passed.
Option Explicit

Dim fso, shell, work, helper, dataPath, warnLog, failures, checks, c, name, n, old, warning, boxes
Set fso = CreateObject("Scripting.FileSystemObject")
Set shell = CreateObject("WScript.Shell")
work = WScript.Arguments(0)
helper = Chr(34) & WScript.Arguments(1) & Chr(34)
dataPath = work & "\values.txt"
warnLog = work & "\warnings.log"
' Every warning box is answered and written to warnLog until the file "stop" exists.
Set boxes = shell.Exec(helper & " boxes " & Chr(34) & warnLog & Chr(34) & " " & Chr(34) & work & "\stop" & Chr(34))
failures = 0
checks = 0
warning = "Valtrove Object Error" & vbTab & "Error, Ambiguous or Semi-Ambiguous Value Name" & vbTab & "icon OK" & vbCrLf

Sub Check(ok, what)
  checks = checks + 1
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Function Quoted(text)
  Quoted = Chr(34) & text & Chr(34) & vbCrLf
End Function

Function DataFileOf(declarations, values)
  DataFileOf = Quoted("<BEGINVALUEDECLARE>" & declarations & "<ENDVALUEDECLARE>") & Quoted(values)
End Function

Function ReadAll(path)
  Dim f
  If Not fso.FileExists(path) Then
    ReadAll = "<missing>"
    Exit Function
  End If
  Set f = fso.OpenTextFile(path, 1)
  If f.AtEndOfStream Then ReadAll = "" Else ReadAll = f.ReadAll
  f.Close
End Function

Sub WriteAll(path, text)
  Dim f
  Set f = fso.CreateTextFile(path, True)
  f.Write text
  f.Close
End Sub

Sub CheckFile(expected, what)
  Dim got
  got = ReadAll(dataPath)
  Check got = expected, what & ": the file holds [" & got & "]"
End Sub

Function Joined(items)
  Dim item, text
  text = ""
  For Each item In items
    text = text & "[" & item & "]"
  Next
  Joined = text
End Function

' ---- A new control ------------------------------------------------------------------------------
Set c = CreateObject("ValtroveCTL.Valtrove")
Check c.DataFile = "*.txt", "DataFile starts as *.txt"
Check c.Enabled = True, "Enabled starts True"
Check c.AutomaticRewrite = False, "AutomaticRewrite starts False"
Check c.NewValueData = "", "NewValueData starts empty"
Check c.AllData.Count = 0 And c.ValueList.Count = 0, "collections start empty"

' ---- Worked example -----------------------------------------------------------------------------
c.DataFile = dataPath
c.GetDataValues
CheckFile DataFileOf("(NULL)", "NULL (0)"), "a missing file gets the default content"
Check c.AllData.Count = 0 And c.ValueList.Count = 0, "the load that creates the file publishes nothing"
c.GetDataValues
Check Joined(c.ValueList) = "[NULL]", "second load: ValueList " & Joined(c.ValueList)
Check c.AllData("null") = "0", "NULL found as null"

name = "Speed"
c.NewValueData = "12"
c.AddDataValue name
CheckFile DataFileOf("(NULL)(Speed)", "NULL (0)Speed (12) "), "add Speed, 12"
Check name = "Speed", "the name passed by reference is unchanged"
Check c.AllData.Count = 1, "an add does not load again"

c.NewValueData = "auto"
c.AddDataValue "Mode"
CheckFile DataFileOf("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) "), "add Mode, auto"

c.NewValueData = "15"
c.RewriteDataValue name
CheckFile DataFileOf("(NULL)(Speed)(Mode)", "NULL (0)Speed (15)  Mode (auto) "), "rewrite Speed, 15"
Check c.NewValueData = "15", "NewValueData is kept"

c.RemoveDataValue name
CheckFile DataFileOf("(NULL)(Mode)", "NULL (0)  Mode (auto) "), "remove Speed"
Check Joined(c.ValueList) = "[NULL][Mode]", "remove loads again: ValueList " & Joined(c.ValueList)
Check Joined(c.AllData) = "[0][auto]", "For Each over AllData gives the data: " & Joined(c.AllData)

' ---- Collections --------------------------------------------------------------------------------
Check c.AllData("MODE") = "auto", "AllData(""MODE"")"
Check c.AllData.Item("mOdE") = "auto", "AllData.Item(""mOdE"")"
Check c.AllData(2) = "auto", "AllData(2)"
Check c.ValueList(1) = "NULL", "ValueList(1)"
Set old = c.AllData
c.GetDataValues
Check Not (c.AllData Is old), "a load starts new collections"
Check old.Count = 2, "a held collection keeps the state of its load"
Set c.AllData = c.ValueList
Check c.AllData Is c.ValueList, "Set AllData = ValueList"
Set c.AllData = Nothing
Check c.AllData.Count = 0, "after Set AllData = Nothing a new empty collection"

' ---- Ambiguity warning and AutomaticRewrite -----------------------------------------------------
c.NewValueData = "x"
c.AddDataValue "Mode"
c.AddDataValue "ULL"
c.AddDataValue ""
CheckFile DataFileOf("(NULL)(Mode)", "NULL (0)  Mode (auto) "), "ambiguous adds leave the file unchanged"
Check ReadAll(warnLog) = warning & warning & warning, "three warnings: [" & ReadAll(warnLog) & "]"
c.AutomaticRewrite = True
c.NewValueData = "manual"
c.AddDataValue "Mode"
CheckFile DataFileOf("(NULL)(Mode)", "NULL (0)  Mode (manual)  "), "AutomaticRewrite rewrites a taken name"
Check ReadAll(warnLog) = warning & warning & warning, "no warning with AutomaticRewrite"
c.AutomaticRewrite = False

' ---- By reference, by value ---------------------------------------------------------------------
n = 42
c.NewValueData = "n"
c.AddDataValue n
Check n = 42 And TypeName(n) = "Integer", "a number variable passed by reference stays a number"
name = "Max"
c.AddDataValue (name)
CheckFile DataFileOf("(NULL)(Mode)(42)(Max)", "NULL (0)  Mode (manual)  42 (n) Max (n) "), "numbers and parenthesised names"
c.RemoveDataValue "42"
c.GetDataValues
Check Joined(c.ValueList) = "[NULL][Mode][Max]", "after removing 42: " & Joined(c.ValueList)

' ---- ClearAll -----------------------------------------------------------------------------------
c.ClearAll
CheckFile DataFileOf("(NULL)", "NULL (0)"), "ClearAll writes the default content"
Check Joined(c.ValueList) = "[NULL][Mode][Max]", "ClearAll does not load"
c.GetDataValues
Check Joined(c.ValueList) = "[NULL]", "after ClearAll and a load: " & Joined(c.ValueList)

' ---- Errors -------------------------------------------------------------------------------------
On Error Resume Next
c.AddDataValue "a(b"
Check Err.Number = 5, "a name with ( gives error 5, got " & Err.Number
Check InStr(Err.Description, "Invalid procedure call or argument") = 1, "description: " & Err.Description
Err.Clear
c.RemoveDataValue "x" & vbCr & "y"
Check Err.Number = 5, "a name with CR gives error 5, got " & Err.Number
Err.Clear
c.NewValueData = "a)b"
c.AddDataValue "Fine"
Check Err.Number = 5, "data with ) gives error 5, got " & Err.Number
Err.Clear
CheckFile DataFileOf("(NULL)", "NULL (0)"), "refused input leaves the file unchanged"
Dim v
v = c.ValueList(7)
Check Err.Number = 9, "ValueList(7) gives error 9, got " & Err.Number
Err.Clear
v = c.AllData("nothing here")
Check Err.Number = 5, "an unknown key gives error 5, got " & Err.Number
Err.Clear
c.ValueList.Add "again", "NULL"
c.ValueList.Add "twice", "null"
Check Err.Number = 457, "a duplicate key gives error 457, got " & Err.Number
Err.Clear
WriteAll dataPath, DataFileOf("(NULL)(Open)", "NULL (0)Open (1")
c.NewValueData = "2"
c.RewriteDataValue "Open"
Check Err.Number = 5, "rewriting an entry without ) gives error 5, got " & Err.Number
Err.Clear
CheckFile DataFileOf("(NULL)(Open)", "NULL (0)Open (1"), "the failed rewrite leaves the file unchanged"
c.NoSuchMember
Check Err.Number = 438, "an unknown member gives error 438, got " & Err.Number
Err.Clear
On Error GoTo 0

' ---- DataFile holds any value -------------------------------------------------------------------
c.DataFile = 7
Check TypeName(c.DataFile) = "Integer" And c.DataFile = 7, "a number reads back as the same number"
' Nothing names no file: operations end quietly and write nothing.
' (TypeName(Nothing) is not used: the script engine of the test machines crashes on it.)
c.DataFile = Nothing
Check c.DataFile Is Nothing, "Nothing reads back as Nothing"
c.GetDataValues
c.NewValueData = "1"
c.AddDataValue "Other"
c.ClearAll
c.DataFile = dataPath
CheckFile DataFileOf("(NULL)(Open)", "NULL (0)Open (1"), "operations with DataFile Nothing leave the file alone"

WriteAll work & "\stop", ""
Do While boxes.Status = 0
  shell.Run helper & " sleep 50", 0, True
Loop

WScript.Echo "checks=" & checks & " failures=" & failures
If failures = 0 Then
  WScript.Echo "VALTROVE-SCRIPT-OK"
  WScript.Quit 0
End If
WScript.Quit 1
