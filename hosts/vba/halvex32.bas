Attribute VB_Name = "Halvex32"
' halvex32 for VBA and Visual Basic 6 hosts: the library's exports, its host
' records and its callbacks, for 64-bit and 32-bit Office alike. Import this
' module into a project and put halvex32.dll (the one of Office's word size)
' beside the document or on the PATH.
'
' Callbacks are passed by reference: the library reads the address out of a
' LongPtr variable that holds it (FnPtr(AddressOf MySub)) when the operation
' starts. Callbacks run on the library's own thread, as standard-call
' procedures in a standard module, with the arguments given below.
'
' Arrays go as the address of the array variable (VarPtrArray(myArray)), so
' that VBA hands the library its own array and its strings unconverted. A
' table given to StartNMEA must live as long as NMEA mode does: declare it at
' module level. NMEA text goes as bytes, one a character:
' StrConv(text, vbFromUnicode), passed as VarPtr of that string.
'
' True is -1. Every export sets the last error: HalvexGetLastError (or
' Err.LastDllError right after the call) says why one refused or failed, and
' inside a failure callback why the operation ended (the codes are listed in
' halvex32.h and README.md).
Option Explicit

' ---- Host records: the layouts VBA gives these types on each word size ----

Public Type HostProductInfo
    productId As Integer
    softwareVersion As Integer     ' hundredths: 310 is 3.10
    description As String
End Type

Public Type HostWaypoint
    ident As String
    latitude As Double             ' degrees
    longitude As Double
    comment As String
End Type

Public Type HostRoute
    firstWaypoint As Long          ' its waypoints are waypointCount elements of the waypoint array from here
    waypointCount As Integer
    number As Integer
    comment As String
    ident As String
End Type

Public Type HostTrackPoint
    time As Double                 ' OLE Automation date
    latitude As Double
    longitude As Double
    newTrack As Integer            ' 1 when the point starts a new track
    padding1 As Integer
    padding2 As Integer
    padding3 As Integer
End Type

Public Type NmeaTableEntry
    timeStamp As Double            ' local date of the last sentence of the kind
    talker As String
    sentenceId As String           ' the key, set by the host: GGA, RMC, ...
    sentence As String
End Type

Public Type HostReceiverInfo
    productId As Long
    softwareVersion As Long
    waypointType As Long           ' 108 for D108; 0 where the receiver has none
    routeHeaderType As Long
    routeLinkType As Long
    trackHeaderType As Long
    trackPointType As Long
    identWidth As Long             ' characters of a waypoint ident that reach the receiver
    commentWidth As Long
    typesSource As Long            ' 0 the library's table, 1 the receiver's protocol array
    protocols As String * 512      ' "P000 L001 A010 ...", ended by a zero character
End Type

Public Type HostPosition               ' a field not given is NaN, its bit of given clear
    time As Double                 ' OLE Automation date, UTC
    latitude As Double             ' degrees
    longitude As Double
    altitude As Double             ' metres above mean sea level
    speed As Double                ' metres a second over ground
    course As Double               ' degrees from true north
    climb As Double                ' metres a second
    eph As Double                  ' estimated horizontal error, metres
    epv As Double                  ' estimated vertical error, metres
    fixMode As Long                ' 1 no fix, 2 2-D, 3 3-D
    satellites As Long
    given As Long                  ' 1 time, 2 position, 4 altitude, 8 speed, 16 course, 32 climb, 64 eph, 128 epv, 256 fix mode, 512 satellites
    weeksAdded As Long             ' 1024, 2048 ... when time was moved past the receiver's GPS week rollover
End Type

Public Type HostLineCounts           ' since the port was opened
    bytesReceived As Long
    bytesSent As Long
    sentences As Long              ' NMEA sentences received whole
    frames As Long                 ' binary frames with a good checksum
    badFrames As Long
    acks As Long                   ' our frames the receiver acknowledged
    lineErrors As Long
    reserved As Long
End Type

Public Type HostWaypointEx          ' a field the receiver's type does not hold is NaN, -1 or ""
    latitude As Double             ' degrees
    longitude As Double
    altitude As Double             ' metres
    depth As Double                ' metres
    proximity As Double            ' metres
    time As Double                 ' OLE Automation date, UTC
    temperature As Double          ' degrees Celsius
    symbol As Long                 ' 18 a waypoint, 8255 a geocache, 8256 a geocache found
    display As Long
    colour As Long
    category As Long
    wptClass As Long               ' 0 a user waypoint
    given As Long                  ' what the type holds: 1 comment, 2 altitude, 4 depth, 8 proximity, 16 time, 32 temperature, 64 symbol, 128 display, 256 colour, 512 category, 1024 class, 2048 facility to cross road
    ident As String
    comment As String
    facility As String
    city As String
    address As String
    crossRoad As String
End Type

Public Type HostTrackPointEx
    time As Double                 ' OLE Automation date, UTC; NaN: none
    latitude As Double
    longitude As Double
    altitude As Double
    depth As Double
    temperature As Double
    newTrack As Long               ' 1 when the point starts a segment
    trackStart As Long             ' 1 when it starts a track under a header: trackName, trackColour, trackDisplay
    trackColour As Long
    trackDisplay As Long
    given As Long                  ' as HostWaypointEx's, 4096 the track's name
    trackName As String
End Type

Public Type HostClock
    receiverTime As Double         ' OLE Automation date, UTC, as the receiver said
    hostTime As Double             ' this computer's UTC clock when the answer came
    weeksBehind As Long            ' 0, 1024, 2048 ...: the receiver's dates trail by this many weeks
    reserved As Long
End Type

' ---- Callbacks, as the library calls them (standard call) ----
' Line events (OpenCommPortEx):   Sub OnLine(ByVal code As Long, ByVal value As Long)
' Identification:                 Sub OnProduct(ByVal code As Long, ByVal value As Long, ByRef info As HostProductInfo)
' Uploads:                        Sub OnUpload(ByVal status As Long, ByVal zero As Long)
' Waypoint download:              Sub OnWaypoints(ByVal zero As Long, ByVal value As Long, ByVal waypoints As LongPtr)
' Route download:                 Sub OnRoutes(ByVal status As Long, ByVal value As Long, ByVal routes As LongPtr, ByVal waypoints As LongPtr)
' Track download:                 Function OnTrackPoint(ByVal zero As Long, ByVal value As Long, ByRef point As HostTrackPoint) As Integer
' Extended downloads:             as the three above, with HostWaypointEx arrays and HostTrackPointEx points
' NMEA mode:                      Function OnNmea(ByVal code As Long, ByVal value As Long, ByVal sentence As LongPtr) As Integer
' Live position:                  Sub OnFix(ByVal code As Long, ByRef fix As HostPosition)
' Receiver's clock:               Sub OnClock(ByVal code As Long, ByRef clock As HostClock)
' The array arguments are addresses of SAFEARRAY pointers that live during the call only.

#If VBA7 Then
Public Declare PtrSafe Function StartNMEA Lib "halvex32.dll" (ByVal session As LongPtr, ByVal table As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Sub StopNMEA Lib "halvex32.dll" (ByVal session As LongPtr)
Public Declare PtrSafe Function HalvexGetProductInfoInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function OutputDebug Lib "halvex32.dll" (ByVal text As String) As Long
Public Declare PtrSafe Function SendNMEA Lib "halvex32.dll" (ByVal session As LongPtr, ByVal sentence As LongPtr) As Integer
Public Declare PtrSafe Function HalvexUploadRouteInit Lib "halvex32.dll" (ByVal session As LongPtr, ByVal routes As LongPtr, ByVal waypoints As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexDownloadRouteInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexUploadWayPtInit Lib "halvex32.dll" (ByVal session As LongPtr, ByVal waypoints As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexDownloadWayPtInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexDownloadTrackInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexUploadTrackInit Lib "halvex32.dll" (ByVal session As LongPtr, ByVal points As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function OpenCommPort Lib "halvex32.dll" (ByVal name As String, ByVal baud As Long) As LongPtr
Public Declare PtrSafe Sub CloseCommPort Lib "halvex32.dll" (ByVal session As LongPtr)
Public Declare PtrSafe Function SendNMEAChk Lib "halvex32.dll" (ByVal session As LongPtr, ByVal sentences As LongPtr) As Integer
Public Declare PtrSafe Function OpenCommPortEx Lib "halvex32.dll" (ByVal name As String, ByVal baud As Long, ByRef callback As LongPtr) As LongPtr
Public Declare PtrSafe Function HalvexGetReceiverInfo Lib "halvex32.dll" (ByVal session As LongPtr, ByRef info As HostReceiverInfo) As Long
Public Declare PtrSafe Function HalvexGetLastError Lib "halvex32.dll" () As Long
Public Declare PtrSafe Function HalvexStartPosition Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexStopPosition Lib "halvex32.dll" (ByVal session As LongPtr) As Long
Public Declare PtrSafe Function HalvexGetTimeInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexGetLineCounts Lib "halvex32.dll" (ByVal session As LongPtr, ByRef counts As HostLineCounts) As Long
Public Declare PtrSafe Function HalvexUploadWayPtExInit Lib "halvex32.dll" (ByVal session As LongPtr, ByVal waypoints As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexDownloadWayPtExInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexUploadRouteExInit Lib "halvex32.dll" (ByVal session As LongPtr, ByVal routes As LongPtr, ByVal waypoints As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexDownloadRouteExInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexUploadTrackExInit Lib "halvex32.dll" (ByVal session As LongPtr, ByVal points As LongPtr, ByRef callback As LongPtr) As Long
Public Declare PtrSafe Function HalvexDownloadTrackExInit Lib "halvex32.dll" (ByVal session As LongPtr, ByRef callback As LongPtr) As Long
' The address of an array variable (its SAFEARRAY pointer), without conversion.
Public Declare PtrSafe Function VarPtrArray Lib "VBE7" Alias "VarPtr" (ByRef Var() As Any) As LongPtr
#Else
Public Declare Function StartNMEA Lib "halvex32.dll" (ByVal session As Long, ByVal table As Long, ByRef callback As Long) As Long
Public Declare Sub StopNMEA Lib "halvex32.dll" (ByVal session As Long)
Public Declare Function HalvexGetProductInfoInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function OutputDebug Lib "halvex32.dll" (ByVal text As String) As Long
Public Declare Function SendNMEA Lib "halvex32.dll" (ByVal session As Long, ByVal sentence As Long) As Integer
Public Declare Function HalvexUploadRouteInit Lib "halvex32.dll" (ByVal session As Long, ByVal routes As Long, ByVal waypoints As Long, ByRef callback As Long) As Long
Public Declare Function HalvexDownloadRouteInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexUploadWayPtInit Lib "halvex32.dll" (ByVal session As Long, ByVal waypoints As Long, ByRef callback As Long) As Long
Public Declare Function HalvexDownloadWayPtInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexDownloadTrackInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexUploadTrackInit Lib "halvex32.dll" (ByVal session As Long, ByVal points As Long, ByRef callback As Long) As Long
Public Declare Function OpenCommPort Lib "halvex32.dll" (ByVal name As String, ByVal baud As Long) As Long
Public Declare Sub CloseCommPort Lib "halvex32.dll" (ByVal session As Long)
Public Declare Function SendNMEAChk Lib "halvex32.dll" (ByVal session As Long, ByVal sentences As Long) As Integer
Public Declare Function OpenCommPortEx Lib "halvex32.dll" (ByVal name As String, ByVal baud As Long, ByRef callback As Long) As Long
Public Declare Function HalvexGetReceiverInfo Lib "halvex32.dll" (ByVal session As Long, ByRef info As HostReceiverInfo) As Long
Public Declare Function HalvexGetLastError Lib "halvex32.dll" () As Long
Public Declare Function HalvexStartPosition Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexStopPosition Lib "halvex32.dll" (ByVal session As Long) As Long
Public Declare Function HalvexGetTimeInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexGetLineCounts Lib "halvex32.dll" (ByVal session As Long, ByRef counts As HostLineCounts) As Long
Public Declare Function HalvexUploadWayPtExInit Lib "halvex32.dll" (ByVal session As Long, ByVal waypoints As Long, ByRef callback As Long) As Long
Public Declare Function HalvexDownloadWayPtExInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexUploadRouteExInit Lib "halvex32.dll" (ByVal session As Long, ByVal routes As Long, ByVal waypoints As Long, ByRef callback As Long) As Long
Public Declare Function HalvexDownloadRouteExInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
Public Declare Function HalvexUploadTrackExInit Lib "halvex32.dll" (ByVal session As Long, ByVal points As Long, ByRef callback As Long) As Long
Public Declare Function HalvexDownloadTrackExInit Lib "halvex32.dll" (ByVal session As Long, ByRef callback As Long) As Long
' Visual Basic 6; Office before 2010 names its runtime VBE6.
Public Declare Function VarPtrArray Lib "msvbvm60.dll" Alias "VarPtr" (ByRef Var() As Any) As Long
#End If

' AddressOf can only be passed: this makes it a value a variable can hold.
#If VBA7 Then
Public Function FnPtr(ByVal address As LongPtr) As LongPtr
#Else
Public Function FnPtr(ByVal address As Long) As Long
#End If
    FnPtr = address
End Function

' ---- Examples: one of each operation ----
' Each example starts an operation and returns; its callback tells the end.

#If VBA7 Then
Private session As LongPtr
Private callbackSlot As LongPtr
#Else
Private session As Long
Private callbackSlot As Long
#End If
Private nmeaTable() As NmeaTableEntry      ' lives as long as NMEA mode

Public Sub ExampleOpenAndIdentify()
    session = OpenCommPort("COM3", 9600)
    If session = 0 Then
        Debug.Print "cannot open COM3: error " & HalvexGetLastError()
        Exit Sub
    End If
    callbackSlot = FnPtr(AddressOf OnProduct)
    If HalvexGetProductInfoInit(session, callbackSlot) = 0 Then Debug.Print "refused: " & HalvexGetLastError()
End Sub

Public Sub OnProduct(ByVal code As Long, ByVal value As Long, ByRef info As HostProductInfo)
    Dim receiver As HostReceiverInfo
    If code <> 0 Then Exit Sub
    Debug.Print info.productId, info.description
    If HalvexGetReceiverInfo(session, receiver) <> 0 Then Debug.Print Left$(receiver.protocols, InStr(receiver.protocols, vbNullChar) - 1)
End Sub

Public Sub ExampleUploadWaypoints()
    Dim waypoints(0 To 1) As HostWaypoint
    waypoints(0).ident = "HOME": waypoints(0).latitude = 51.4779: waypoints(0).longitude = -0.0015
    waypoints(1).ident = "WORK": waypoints(1).latitude = 51.5081: waypoints(1).longitude = -0.0759
    callbackSlot = FnPtr(AddressOf OnUpload)
    If HalvexUploadWayPtInit(session, VarPtrArray(waypoints), callbackSlot) = 0 Then Debug.Print "refused: " & HalvexGetLastError()
End Sub

Public Sub ExampleUploadRoute()
    Dim routes(0 To 0) As HostRoute
    Dim waypoints(0 To 1) As HostWaypoint
    waypoints(0).ident = "HOME": waypoints(1).ident = "WORK"
    routes(0).firstWaypoint = 0: routes(0).waypointCount = 2: routes(0).number = 1: routes(0).ident = "COMMUTE"
    callbackSlot = FnPtr(AddressOf OnUpload)
    If HalvexUploadRouteInit(session, VarPtrArray(routes), VarPtrArray(waypoints), callbackSlot) = 0 Then Debug.Print "refused"
End Sub

Public Sub ExampleUploadTrack()
    Dim points(0 To 1) As HostTrackPoint
    points(0).time = Now: points(0).latitude = 51.4779: points(0).newTrack = 1
    points(1).time = Now: points(1).latitude = 51.478
    callbackSlot = FnPtr(AddressOf OnUpload)
    If HalvexUploadTrackInit(session, VarPtrArray(points), callbackSlot) = 0 Then Debug.Print "refused"
End Sub

Public Sub OnUpload(ByVal status As Long, ByVal zero As Long)
    If status <> 0 Then Debug.Print "upload failed: error " & HalvexGetLastError()
End Sub

' kind: "waypoints", "routes" or "track".
Public Sub ExampleDownload(ByVal kind As String)
    Dim started As Long
    Select Case kind
    Case "waypoints"
        callbackSlot = FnPtr(AddressOf OnWaypoints)
        started = HalvexDownloadWayPtInit(session, callbackSlot)
    Case "routes"
        callbackSlot = FnPtr(AddressOf OnRoutes)
        started = HalvexDownloadRouteInit(session, callbackSlot)
    Case Else
        callbackSlot = FnPtr(AddressOf OnTrackPoint)
        started = HalvexDownloadTrackInit(session, callbackSlot)
    End Select
    If started = 0 Then Debug.Print "refused: error " & HalvexGetLastError()
End Sub

#If VBA7 Then
Public Sub OnWaypoints(ByVal zero As Long, ByVal value As Long, ByVal waypoints As LongPtr)
#Else
Public Sub OnWaypoints(ByVal zero As Long, ByVal value As Long, ByVal waypoints As Long)
#End If
    ' waypoints is the address of a SAFEARRAY pointer of HostWaypoint, 0 within when the download failed.
    Debug.Print "waypoints arrived"
End Sub

#If VBA7 Then
Public Sub OnRoutes(ByVal status As Long, ByVal value As Long, ByVal routes As LongPtr, ByVal waypoints As LongPtr)
#Else
Public Sub OnRoutes(ByVal status As Long, ByVal value As Long, ByVal routes As Long, ByVal waypoints As Long)
#End If
    If status <> 0 Then Debug.Print "route download failed: error " & HalvexGetLastError()
End Sub

Public Function OnTrackPoint(ByVal zero As Long, ByVal value As Long, ByRef point As HostTrackPoint) As Integer
    If value = -1 Then
        If HalvexGetLastError() <> 0 Then Debug.Print "track download failed: error " & HalvexGetLastError()
    Else
        Debug.Print point.time, point.latitude, point.longitude
    End If
    OnTrackPoint = -1                       ' 0 stops the download
End Function

Public Sub ExampleNmea()
    Dim sentence As String
    ReDim nmeaTable(0 To 1)
    nmeaTable(0).sentenceId = "GGA": nmeaTable(1).sentenceId = "RMC"
    callbackSlot = FnPtr(AddressOf OnNmea)
    StartNMEA session, VarPtrArray(nmeaTable), callbackSlot
    sentence = StrConv("$PHLVX,RESET", vbFromUnicode)      ' bytes, one a character
    Dim sentences(0 To 0) As String
    sentences(0) = sentence
    SendNMEAChk session, VarPtrArray(sentences)              ' completed with "*hh" and CR LF
    sentence = StrConv("$PHLVX,PING*00" & vbCrLf, vbFromUnicode)
    SendNMEA session, VarPtr(sentence)                       ' sent as it is
End Sub

#If VBA7 Then
Public Function OnNmea(ByVal code As Long, ByVal value As Long, ByVal sentence As LongPtr) As Integer
#Else
Public Function OnNmea(ByVal code As Long, ByVal value As Long, ByVal sentence As Long) As Integer
#End If
    OnNmea = -1                            ' keep reporting silence (code 3)
End Function

Public Sub ExamplePosition()
    callbackSlot = FnPtr(AddressOf OnFix)   ' in binary mode (identified) or in NMEA mode
    If HalvexStartPosition(session, callbackSlot) = 0 Then Debug.Print "refused: " & HalvexGetLastError()
End Sub

Public Sub OnFix(ByVal code As Long, ByRef fix As HostPosition)
    If (fix.given And 2) <> 0 Then Debug.Print fix.time, fix.latitude, fix.longitude, fix.fixMode
End Sub

Public Sub ExampleClock()
    callbackSlot = FnPtr(AddressOf OnClock) ' identified and idle, in binary mode
    If HalvexGetTimeInit(session, callbackSlot) = 0 Then Debug.Print "refused: " & HalvexGetLastError()
End Sub

Public Sub OnClock(ByVal code As Long, ByRef clock As HostClock)
    If code <> 0 Then Debug.Print "no answer: " & HalvexGetLastError(): Exit Sub
    Debug.Print "receiver " & clock.receiverTime & ", " & clock.weeksBehind & " weeks behind (GPS week rollover)"
End Sub

Public Sub ExampleClose()
    HalvexStopPosition session
    StopNMEA session
    CloseCommPort session
    session = 0
End Sub
