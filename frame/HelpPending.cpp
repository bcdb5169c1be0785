// Placeholders until help and the about box land.
#include "app/CMainFrame.h"

void CMainFrame::OnHelp(int) {}
void CMainFrame::OnAbout() {}
