// Placeholders until the resource tables land.
#include "res/Resources.h"

namespace res {
QString LoadString(int) { return {}; }
QString CommandPrompt(int) { return {}; }
QString CommandTooltip(int) { return {}; }
const std::vector<MenuItem>& MainMenu() { static std::vector<MenuItem> m; return m; }
const std::vector<Accelerator>& MainAccelerators() { static std::vector<Accelerator> a; return a; }
const std::vector<ToolbarButton>& MainToolbar() { static std::vector<ToolbarButton> t; return t; }
QIcon ToolbarImage(int) { return {}; }
QIcon AppIcon(int) { return {}; }
const DialogTemplate& Dialog(int) { static DialogTemplate d{}; return d; }
}  // namespace res
