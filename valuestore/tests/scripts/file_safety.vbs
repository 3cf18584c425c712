' The data file survives what goes wrong, as a VBScript host sees it: an operation whose load could
' not read the whole file, or whose save fails, raises a file error naming the path and leaves the
' file byte for byte; text the ANSI code page (here 1252) cannot hold is refused, never folded; an
' empty name is refused by RemoveDataValue; device names are never opened. Arguments: a scratch
' folder and the helper program. Ends with an explicit exit code, and prints VALTROVE-SCRIPT-OK last
' when every check passed.
Option Explicit

Dim fso, shell, work, helper, dataPath, failures, checks, c, before, wide, device, otherPath, boxes
Set fso = CreateObject("Scripting.FileSystemObject")
Set shell = CreateObject("WScript.Shell")
work = WScript.Arguments(0)
helper = Chr(34) & WScript.Arguments(1) & Chr(34)
dataPath = work & "\values.txt"
failures = 0
checks = 0
' A warning box would stop the script: the helper answers any, and the log must stay empty.
Set boxes = shell.Exec(helper & " boxes " & Chr(34) & work & "\warnings.log" & Chr(34) & " " & Chr(34) & work & "\stop" & Chr(34))

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

' The error that the last call raised, as "number: description", and clears it.
Function Raised()
  Raised = Err.Number & ": " & Err.Description
  Err.Clear
End Function

' An error of this number whose description names the data file.
Function FileError(raisedText, number)
  FileError = Left(raisedText, Len(number & ": ")) = number & ": " And InStr(raisedText, dataPath) > 0
End Function

Set c = CreateObject("ValtroveCTL.Valtrove")
c.DataFile = dataPath
c.NewValueData = "1"

' ---- A load that could not read the whole file is never followed by a save ------------------------
' A hand-edited file with one blank line at its end: the blank line would become the value text.
before = DataFileOf("(NULL)(Speed)", "NULL (0)Speed (12) ") & vbCrLf
WriteAll dataPath, before
On Error Resume Next
c.GetDataValues
Check Err.Number = 0, "GetDataValues stays quiet on a file it cannot read whole"
Err.Clear
Dim r
c.AddDataValue "B"
r = Raised()
Check FileError(r, 75), "add on a file with a trailing blank line: " & r
c.RewriteDataValue "Speed"
r = Raised()
Check FileError(r, 75), "rewrite on a file with a trailing blank line: " & r
c.RemoveDataValue "Speed"
r = Raised()
Check FileError(r, 75), "remove on a file with a trailing blank line: " & r
On Error GoTo 0
Check ReadAll(dataPath) = before, "the file with a trailing blank line is unchanged"

' A file held open without sharing cannot be read: the operation fails, the file stays. (Wine as root
' reads a file whatever its permissions, so this held file is also this script's unreadable file.)
before = DataFileOf("(NULL)(Speed)", "NULL (0)Speed (12) ")
WriteAll dataPath, before
Hold "none"
On Error Resume Next
c.AddDataValue "B"
r = Raised()
Check FileError(r, 70), "add on a file held without sharing: " & r
c.RewriteDataValue "Speed"
r = Raised()
Check FileError(r, 70), "rewrite on a file held without sharing: " & r
c.RemoveDataValue "Speed"
r = Raised()
Check FileError(r, 70), "remove on a file held without sharing: " & r
On Error GoTo 0
Release
Check ReadAll(dataPath) = before, "the held file is unchanged"

' ---- A failed save is an error ----------------------------------------------------------------------
' Held for good, readable but not replaceable: the save gives up after its retries.
Hold "read"
On Error Resume Next
c.AddDataValue "B"
r = Raised()
Check FileError(r, 70), "add whose save fails: " & r
c.ClearAll
r = Raised()
Check FileError(r, 70), "ClearAll whose save fails: " & r
On Error GoTo 0
Release
Check ReadAll(dataPath) = before, "a failed save leaves the old bytes"
c.AddDataValue "B"
Check ReadAll(dataPath) = DataFileOf("(NULL)(Speed)(B)", "NULL (0)Speed (12) B (1) "), "the save works once the file is free"

' ---- An empty name is refused by RemoveDataValue -----------------------------------------------------
before = DataFileOf("(NULL)()", "NULL (0) (e) ")
WriteAll dataPath, before
On Error Resume Next
c.RemoveDataValue ""
r = Raised()
Check Left(r, 3) = "5: ", "RemoveDataValue with an empty name: " & r
On Error GoTo 0
Check ReadAll(dataPath) = before, "the refused removal leaves the file unchanged"

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
Check ReadAll(dataPath) = before, "refused text leaves the file unchanged"
' A DataFile that would become another file's name.
otherPath = work & "\valueS.txt"
WriteAll otherPath, before
c.DataFile = work & "\value" & wide(1) & ".txt"
On Error Resume Next
c.ClearAll
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "DataFile") > 0, "ClearAll on a DataFile holding a full-width S: " & r
c.GetDataValues
r = Raised()
Check Left(r, 3) = "5: " And InStr(r, "DataFile") > 0, "GetDataValues on a DataFile holding a full-width S: " & r
On Error GoTo 0
Check ReadAll(otherPath) = before, "the file the DataFile would have been folded to is unchanged"
c.DataFile = dataPath
c.NewValueData = "1"

' ---- Device names are never opened ------------------------------------------------------------------
' Each names no single file: nothing is read or written, no error, and no read waits on a device.
Dim files
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

Check ReadAll(work & "\warnings.log") = "<missing>", "no warning box"
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
