// Placeholders until the platform layer lands.
#include "platform/CDialogBuilder.h"
#include "platform/CMessageLoopHooks.h"
#include "platform/CUpdateUI.h"
#include "platform/Prompts.h"

namespace platform {
CUpdateUI::CUpdateUI(std::vector<Entry>) {}
void CUpdateUI::UIEnable(int, bool, bool) {}
void CUpdateUI::UISetCheck(int, bool, bool) {}
bool CUpdateUI::UIIsEnabled(int) const { return false; }
bool CUpdateUI::UIIsChecked(int) const { return false; }
void CUpdateUI::UIAddToolBarAction(int, QAction*) {}
void CUpdateUI::UIAddMenuAction(int, QAction*) {}
void CUpdateUI::UIUpdateToolBar() {}
void CUpdateUI::UIUpdateMenu() {}
int MessageBox(QWidget*, const QString&, const QString&, MbIcon, MbButtons) { return 0; }
std::optional<FileChoice> GetOpenFileName(QWidget*, const std::vector<FileFilter>&) { return {}; }
std::optional<FileChoice> GetSaveFileName(QWidget*, const std::vector<FileFilter>&, const QString&) {
  return {};
}
ScopedPromptResponder::ScopedPromptResponder(PromptResponder) {}
ScopedPromptResponder::~ScopedPromptResponder() = default;
void RegisterMessageLoopHooks(CMessageFilter*, CIdleHandler*) {}
void UnregisterMessageLoopHooks() {}
QRect DialogUnitsToPixels(const QFont&, int x, int y, int cx, int cy) { return {x, y, cx, cy}; }
QHash<int, QWidget*> BuildDialog(QDialog&, const res::DialogTemplate&) { return {}; }
void CentreOverOwner(QWidget&) {}
}  // namespace platform
