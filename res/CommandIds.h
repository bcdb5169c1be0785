#pragma once

// Command, control and resource ids. The numbers are part of the program's
// contract with its resources (menu, toolbar, accelerators, string table).
namespace ids {

// Commands
constexpr int FileOpen = 57601;
constexpr int FileSaveResizedAs = 57603;
constexpr int FileExit = 57665;
// The recent pictures of the File menu, most recent first.
constexpr int FileRecentFirst = 57616;
constexpr int FileRecentCount = 8;
constexpr int FileClearRecent = 32850;
constexpr int EditCopyResult = 57634;
constexpr int EditPaste = 57637;
constexpr int CompareInOnePane = 32851;
constexpr int Resize = 32773;
constexpr int ZoomIn = 32779;
constexpr int ZoomOut = 32781;
constexpr int ZoomToFit = 32792;
constexpr int ZoomToFirst = 32797;  // "10%"
constexpr int ZoomTo100 = 32801;
constexpr int ZoomToLast = 32811;  // "2000%"
constexpr int ZoomToOther = 32812;
constexpr int SyncScroll = 32815;
constexpr int SyncZoom = 32821;
constexpr int ViewToolBar = 59392;
constexpr int ViewStatusBar = 59393;
constexpr int HelpContents = 32834;
constexpr int HelpGettingStarted = 32840;
constexpr int HelpTechSupport = 32841;
// The help context of the resize-parameters dialog: F1 in it opens the page
// on resizing. Not a menu command.
constexpr int HelpResizing = 32842;
constexpr int AppAbout = 57664;

// The commands that need an image: disabled at start-up and whenever the
// image goes.
constexpr int ImageCommands[] = {SyncScroll,     SyncZoom,        FileSaveResizedAs, Resize,
                                 ZoomIn,         ZoomOut,         ZoomToFit,         ZoomTo100,
                                 EditCopyResult, CompareInOnePane};
// The commands that need a result: disabled while there is none.
constexpr int ResultCommands[] = {SyncScroll, SyncZoom, FileSaveResizedAs, EditCopyResult,
                                  CompareInOnePane};

// Strings
constexpr int StrAppName = 128;
constexpr int StrVersion = 130;
constexpr int StrReady = 57345;

// Resources
constexpr int MenuMain = 128;
constexpr int AccelMain = 128;
constexpr int ToolbarMain = 128;
constexpr int IconApp = 128;
constexpr int IconResize = 205;
constexpr int DlgAbout = 100;
constexpr int DlgZoomTo = 201;
constexpr int DlgWait = 202;
constexpr int DlgResize = 203;
constexpr int DlgProgress = 206;

// Controls
constexpr int PercentCombo = 1131;
constexpr int FirstToolbarSeparator = 1133;
constexpr int ToolbarBandFirst = 60160;

// Dialog results
constexpr int IdOk = 1;
constexpr int IdCancel = 2;
constexpr int IdYes = 6;
constexpr int IdNo = 7;

}  // namespace ids
