#include "platform/CUpdateUI.h"

#include <QAction>

namespace platform {

CUpdateUI::CUpdateUI(std::vector<Entry> entries) {
  for (const Entry& entry : entries) {
    m_order.push_back(entry.id);
    // Every place starts dirty so that the first push shows the table's state.
    m_states.insert(entry.id, State{entry.places, true, false, entry.places});
  }
}

void CUpdateUI::Mark(State& state, bool changed, bool force) {
  if (changed || force) state.dirty |= state.places;
}

void CUpdateUI::UIEnable(int id, bool enable, bool force) {
  auto it = m_states.find(id);
  if (it == m_states.end()) return;
  const bool changed = it->enabled != enable;
  it->enabled = enable;
  Mark(*it, changed, force);
}

void CUpdateUI::UISetCheck(int id, bool checked, bool force) {
  auto it = m_states.find(id);
  if (it == m_states.end()) return;
  const bool changed = it->checked != checked;
  it->checked = checked;
  Mark(*it, changed, force);
}

bool CUpdateUI::UIIsEnabled(int id) const {
  auto it = m_states.constFind(id);
  return it == m_states.constEnd() || it->enabled;
}

bool CUpdateUI::UIIsChecked(int id) const {
  auto it = m_states.constFind(id);
  return it != m_states.constEnd() && it->checked;
}

void CUpdateUI::AddAction(int id, unsigned place, QAction* action, QHash<int, QAction*>& actions) {
  auto it = m_states.find(id);
  if (it == m_states.end() || !(it->places & place)) return;
  actions.insert(id, action);
  it->dirty |= place;  // a late registration still receives the current state
}

void CUpdateUI::UIAddToolBarAction(int id, QAction* action) {
  AddAction(id, UIToolBar, action, m_toolBarActions);
}

void CUpdateUI::UIAddMenuAction(int id, QAction* action) {
  AddAction(id, UIMenuPopup, action, m_menuActions);
}

namespace {
void Apply(QAction* action, bool enabled, bool checked) {
  action->setEnabled(enabled);
  if (action->isCheckable()) action->setChecked(checked);
}
}  // namespace

void CUpdateUI::UIUpdateToolBar() {
  for (int id : m_order) {
    State& state = m_states[id];
    if (!(state.dirty & UIToolBar)) continue;
    if (QAction* action = m_toolBarActions.value(id)) Apply(action, state.enabled, state.checked);
    state.dirty &= ~UIToolBar;
  }
}

void CUpdateUI::UIUpdateMenu() {
  for (int id : m_order) {
    State& state = m_states[id];
    if (!(state.dirty & UIMenuPopup)) continue;
    if (QAction* action = m_menuActions.value(id)) Apply(action, state.enabled, state.checked);
    state.dirty &= ~UIMenuPopup;
  }
}

}  // namespace platform
