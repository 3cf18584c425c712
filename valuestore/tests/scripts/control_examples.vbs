' Drives the registered Valtrove control as a VBScript host does: the worked examples with the data
' file compared byte for byte, For Each over both collections, keys without regard to case, names
' passed by reference and by value, the ambiguity warning (the message box, read and closed by the
' helper program) and the errors a host receives. Then what goes wrong with the data file: an
' operation whose load could not read the whole file, or whose save fails, raises a file error naming
' the path and leaves the file byte for byte; text the ANSI code page (1252 here) cannot hold is
' refused, never folded; device names are never opened. Arguments: a scratch folder, the helper
' program, and "cp932" when the script runs in a Japanese locale (code page 932), where it checks only
' names of double-byte characters. Ends with an explicit exit code, and prints VALTROVE-SCRIPT-OK last
' when every check passed.
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

Sub RunHelper(arguments)
  shell.Run helper & " " & arguments, 0, True
End Sub

' Text with characters the script host cannot write: the helper writes them as UTF-16, one line per
' argument (code points in hex), and the script reads them back.
Function WideLines(codes)
  Dim f
  RunHelper "utf16 " & Chr(34) & work & "\wide.txt" & Chr(34) & " " & codes
  Set f = fso.OpenTextFile(work & "\wide.txt", 1, False, -1)
  WideLines = Split(f.ReadAll, vbCrLf)
  f.Close
End Function

' Holds the data file open through the helper until Release: sharing nothing ("none"), or sharing
' read and write but not delete ("read"), so that it can be read but not replaced.
Dim holder
Sub Hold(share)
  If fso.FileExists(work & "\held") Then fso.DeleteFile work & "\held"
  If fso.FileExists(work & "\release") Then fso.DeleteFile work & "\release"
  Set holder = shell.Exec(helper & " hold " & Chr(34) & dataPath & Chr(34) & " " & share & " " & _
                          Chr(34) & work & "\held" & Chr(34) & " " & Chr(34) & work & "\release" & Chr(34))
  RunHelper "wait-for " & Chr(34) & work & "\held" & Chr(34) & " 30000"
  Check fso.FileExists(work & "\held"), "the helper holds the file (" & share & ")"
End Sub
Sub Release()
  WriteAll work & "\release", ""
  Do While holder.Status = 0
    RunHelper "sleep 50"
  Loop
End Sub

' The error that the last call raised, as "number: description"; clears it.
Function Raised()
  Raised = Err.Number & ": " & Err.Description
  Err.Clear
End Function

' Each of AddDataValue "B", RewriteDataValue "Speed" and RemoveDataValue "Speed" raises a file error of
' this number whose description names the data file.
Sub CheckOperationsFail(number, what)
  Dim r, op
  For op = 0 To 2
    On Error Resume Next
    Select Case op
      Case 0: c.AddDataValue "B"
      Case 1: c.RewriteDataValue "Speed"
      Case 2: c.RemoveDataValue "Speed"
    End Select
    r = Raised()
    On Error GoTo 0
    Check Left(r, Len(number & ": ")) = number & ": " And InStr(r, dataPath) > 0, what & ", operation " & op & ": " & r
  Next
End Sub

Function Joined(items)
  Dim item, text
  text = ""
  For Each item In items
    text = text & "[" & item & "]"
  Next
  Joined = text
End Function

' Stops the helper that answers the boxes, reports and ends the script.
Sub Finish()
  WriteAll work & "\stop", ""
  Do While boxes.Status = 0
    RunHelper "sleep 50"
  Loop
  WScript.Echo "checks=" & checks & " failures=" & failures
  If failures = 0 Then
    WScript.Echo "VALTROVE-SCRIPT-OK"
    WScript.Quit 0
  End If
  WScript.Quit 1
End Sub

' ---- Code page 932: names match whole characters -------------------------------------------------
' The katakana A (U+30A2) is 0x83 0x41, whose trail byte is the letter A; yet "A" and the katakana are
' different names, each with its own data, and the file holds the code page's bytes.
If WScript.Arguments.Count > 2 Then
  Dim katakanaA, expected
  katakanaA = WideLines("30A2")
  katakanaA = katakanaA(0)
  Check Len(katakanaA) = 1, "the katakana read back: " & Len(katakanaA)
  Set c = CreateObject("ValtroveCTL.Valtrove")
  c.DataFile = dataPath
  c.GetDataValues
  c.NewValueData = "1"
  c.AddDataValue katakanaA
  c.NewValueData = "2"
  c.AddDataValue "A"
  Check ReadAll(warnLog) = "<missing>", "A is not taken by the katakana's trail byte"
  c.GetDataValues
  Check Joined(c.ValueList) = "[NULL][" & katakanaA & "][A]", "both names are stored: " & Joined(c.ValueList)
  Check Joined(c.AllData) = "[0][1][2]", "each reads back its own data: " & Joined(c.AllData)
  expected = DataFileOf("(NULL)(" & katakanaA & ")(A)", "NULL (0)" & katakanaA & " (1) A (2) ")
  CheckFile expected, "both names in the file"
  ' Read in the ANSI code page, the file gives the text back; it holds two bytes for the katakana.
  Check fso.GetFile(dataPath).Size = Len(expected) + 2, "code page 932 bytes: " & fso.GetFile(dataPath).Size
  ' Rewriting and removing A leave the katakana's value alone.
  c.NewValueData = "3"
  c.RewriteDataValue "A"
  c.RemoveDataValue "A"
  CheckFile DataFileOf("(NULL)(" & katakanaA & ")", "NULL (0)" & katakanaA & " (1)   "), "after rewriting and removing A"
  Check c.AllData(katakanaA) = "1", "the katakana keeps its data"
  Finish
End If

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

' ==== What goes wrong with the data file =============================================================
Dim r, before, wide, device, files, warningsBefore
warningsBefore = ReadAll(warnLog)
c.NewValueData = "1"

' ---- A load that could not read the whole file is never followed by a save ------------------------
' A hand-edited file with one blank line at its end: the blank line would become the value text.
before = DataFileOf("(NULL)(Speed)", "NULL (0)Speed (12) ") & vbCrLf
WriteAll dataPath, before
On Error Resume Next
c.GetDataValues
Check Raised() = "0: ", "GetDataValues stays quiet on a file it cannot read whole"
On Error GoTo 0
CheckOperationsFail 75, "a file with a trailing blank line"
CheckFile before, "the file with a trailing blank line is unchanged"

' A file held open without sharing cannot be read: the operations fail, the file stays. (Wine as root
' reads a file whatever its permissions, so this held file is also this script's unreadable file.)
before = DataFileOf("(NULL)(Speed)", "NULL (0)Speed (12) ")
WriteAll dataPath, before
Hold "none"
CheckOperationsFail 70, "a file held without sharing"
Release
CheckFile before, "the held file is unchanged"

' ---- A failed save is an error ----------------------------------------------------------------------
' Held for good, readable but not replaceable: the save gives up after its retries.
Hold "read"
On Error Resume Next
c.AddDataValue "B"
r = Raised()
Check Left(r, 4) = "70: " And InStr(r, dataPath) > 0, "add whose save fails: " & r
c.ClearAll
r = Raised()
Check Left(r, 4) = "70: " And InStr(r, dataPath) > 0, "ClearAll whose save fails: " & r
On Error GoTo 0
Release
CheckFile before, "a failed save leaves the old bytes"
c.AddDataValue "B"
CheckFile DataFileOf("(NULL)(Speed)(B)", "NULL (0)Speed (12) B (1) "), "the save works once the file is free"

' ---- An empty name is refused by RemoveDataValue -----------------------------------------------------
before = DataFileOf("(NULL)()", "NULL (0) (e) ")
WriteAll dataPath, before
On Error Resume Next
c.RemoveDataValue ""
r = Raised()
On Error GoTo 0
Check Left(r, 3) = "5: ", "RemoveDataValue with an empty name: " & r
CheckFile before, "the refused removal leaves the file unchanged"

' ---- Text the code page cannot hold is refused, never folded -----------------------------------------
' U+4E00 is not in code page 1252; the full-width S (U+FF33) would be folded to S.
wide = WideLines("4E00 FF33")
before = DataFileOf("(NULL)(S)", "NULL (0)S (12) ")
WriteAll dataPath, before
On Error Resume Next
c.AddDataValue wide(0)
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "AddValueName") > 0, "add of U+4E00: " & r
c.RewriteDataValue wide(1)
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "ValueName") > 0, "rewrite of a full-width S: " & r
c.RemoveDataValue wide(1)
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "RemoveValueName") > 0, "remove of a full-width S: " & r
c.AutomaticRewrite = True
c.NewValueData = "overwritten"
c.AddDataValue wide(1)
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "AddValueName") > 0, "add of a full-width S over S: " & r
c.AutomaticRewrite = False
c.NewValueData = "data " & wide(0)
c.AddDataValue "Fine"
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "NewValueData") > 0, "add with data holding U+4E00: " & r
Check c.NewValueData = "data " & wide(0), "NewValueData keeps what the host set"
On Error GoTo 0
CheckFile before, "refused text leaves the file unchanged"
' A DataFile that would become another file's name.
WriteAll work & "\valueS.txt", before
c.DataFile = work & "\value" & wide(1) & ".txt"
On Error Resume Next
c.ClearAll
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "DataFile") > 0, "ClearAll on a DataFile holding a full-width S: " & r
c.GetDataValues
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "DataFile") > 0, "GetDataValues on a DataFile holding a full-width S: " & r
On Error GoTo 0
Check ReadAll(work & "\valueS.txt") = before, "the file the DataFile would have been folded to is unchanged"
c.NewValueData = "1"

' ---- Device names are never opened ------------------------------------------------------------------
' Each names no single file: nothing is read or written, no error, and no read waits on a device.
files = fso.GetFolder(work).Files.Count
For Each device In Array("NUL", "con", "Aux.txt", "prn.log", "COM1", "com9.dat", "LPT1", "lpt9", _
                         "CON .txt", work & "\aux", work & "\Com3.txt", "\\.\COM1", "\\.\nul")
  c.DataFile = device
  On Error Resume Next
  c.GetDataValues
  r = Raised()
  c.AddDataValue "A"
  r = r & " " & Raised()
  c.RewriteDataValue "A"
  r = r & " " & Raised()
  c.RemoveDataValue "A"
  r = r & " " & Raised()
  c.ClearAll
  r = r & " " & Raised()
  On Error GoTo 0
  Check r = "0:  0:  0:  0:  0: ", "device " & device & ": " & r
Next
Check fso.GetFolder(work).Files.Count = files, "no file was created for a device"
Check ReadAll(warnLog) = warningsBefore, "no warning box while the file went wrong"

Finish
