#pragma once

#include <QHash>
#include <vector>

class QAction;

namespace platform {

// Where a governed command's state is shown.
enum UIPlace : unsigned { UIMenuPopup = 1, UIToolBar = 2 };

// The table of enabled and checked states of the governed commands, keyed by
// command id. Handlers change states only through UIEnable and UISetCheck;
// the toolbar takes them at idle time (UIUpdateToolBar), a menu when it opens
// (UIUpdateMenu). UI thread only.
class CUpdateUI {
 public:
  struct Entry {
    int id;
    unsigned places;  // UIPlace bits
  };

  explicit CUpdateUI(std::vector<Entry> entries);
  virtual ~CUpdateUI() = default;

  // An id not in the table is ignored. force marks the entry dirty even
  // when the state does not change.
  void UIEnable(int id, bool enable, bool force = false);
  void UISetCheck(int id, bool checked, bool force = false);
  bool UIIsEnabled(int id) const;
  bool UIIsChecked(int id) const;

  // The places that show the states: the toolbar's button actions and the
  // menu items' actions, keyed by command id.
  void UIAddToolBarAction(int id, QAction* action);
  void UIAddMenuAction(int id, QAction* action);

  // Pushes the dirty toolbar states to the toolbar buttons.
  void UIUpdateToolBar();
  // Gives every governed item of the opening menu its state.
  void UIUpdateMenu();

 private:
  struct State {
    unsigned places = 0;
    bool enabled = true;
    bool checked = false;
    unsigned dirty = 0;  // UIPlace bits still to push
  };
  void Mark(State& state, bool changed, bool force);
  void AddAction(int id, unsigned place, QAction* action, QHash<int, QAction*>& actions);

  std::vector<int> m_order;
  QHash<int, State> m_states;
  QHash<int, QAction*> m_toolBarActions;
  QHash<int, QAction*> m_menuActions;
};

}  // namespace platform
