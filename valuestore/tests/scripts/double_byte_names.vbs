' Names in a double-byte ANSI code page, as a VBScript host on a Japanese system uses them: the
' katakana A (U+30A2) is 0x83 0x41 in code page 932, whose trail byte is the letter A, yet the names
' "A" and katakana A are different names. Runs in a Japanese locale, which gives code page 932:
' LC_ALL=ja_JP.UTF-8
' Arguments: a scratch folder and the helper program. Ends with an explicit exit code, and prints
' VALTROVE-SCRIPT-OK last when every check passed.
Option Explicit

Dim fso, shell, work, helper, dataPath, failures, checks, c, boxes, f, katakanaA, names, item
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

' The file read in the ANSI code page, as the control writes it.
Function ReadAll(path)
  If Not fso.FileExists(path) Then
    ReadAll = "<missing>"
    Exit Function
  End If
  Set f = fso.OpenTextFile(path, 1)
  If f.AtEndOfStream Then ReadAll = "" Else ReadAll = f.ReadAll
  f.Close
End Function

' The script host cannot write the katakana: the helper writes it as UTF-16 text.
shell.Run helper & " utf16 " & Chr(34) & work & "\wide.txt" & Chr(34) & " 30A2", 0, True
Set f = fso.OpenTextFile(work & "\wide.txt", 1, False, -1)
katakanaA = f.ReadLine
f.Close
Check Len(katakanaA) = 1, "the katakana read back: " & Len(katakanaA)

Set c = CreateObject("ValtroveCTL.Valtrove")
c.DataFile = dataPath
c.GetDataValues
c.NewValueData = "1"
c.AddDataValue katakanaA
c.NewValueData = "2"
c.AddDataValue "A"
Check ReadAll(work & "\warnings.log") = "<missing>", "A is not taken by the katakana's trail byte"
c.GetDataValues
names = ""
For Each item In c.ValueList
  names = names & "[" & item & "]"
Next
Check names = "[NULL][" & katakanaA & "][A]", "both names are stored: " & names
Check c.AllData(katakanaA) = "1", "the katakana reads back its own data"
Check c.AllData("A") = "2", "A reads back its own data"

Dim expected
expected = Quoted("<BEGINVALUEDECLARE>(NULL)(" & katakanaA & ")(A)<ENDVALUEDECLARE>") & _
           Quoted("NULL (0)" & katakanaA & " (1) A (2) ")
Check ReadAll(dataPath) = expected, "the file: " & ReadAll(dataPath)
' Two bytes for each katakana in code page 932.
Check fso.GetFile(dataPath).Size = Len(expected) + 2, "the file holds code page 932 bytes: " & fso.GetFile(dataPath).Size

' Rewriting and removing A leave the katakana's value alone.
c.NewValueData = "3"
c.RewriteDataValue "A"
c.RemoveDataValue "A"
Check ReadAll(dataPath) = Quoted("<BEGINVALUEDECLARE>(NULL)(" & katakanaA & ")<ENDVALUEDECLARE>") & _
                          Quoted("NULL (0)" & katakanaA & " (1)   "), "after rewriting and removing A: " & ReadAll(dataPath)
Check c.AllData(katakanaA) = "1", "the katakana keeps its data"

Check ReadAll(work & "\warnings.log") = "<missing>", "no warning box"
Set f = fso.CreateTextFile(work & "\stop", True)
f.Close
Do While boxes.Status = 0
  shell.Run helper & " sleep 50", 0, True
Loop

WScript.Echo "checks=" & checks & " failures=" & failures
If failures = 0 Then
  WScript.Echo "VALTROVE-SCRIPT-OK"
  WScript.Quit 0
End If
WScript.Quit 1
