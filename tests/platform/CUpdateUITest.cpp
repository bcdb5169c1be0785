#include <gtest/gtest.h>

#include <QAction>

#include "platform/CUpdateUI.h"

using namespace platform;

namespace {

constexpr int kBoth = 100;     // shown in the menu and on the toolbar
constexpr int kToolbar = 200;  // toolbar only
constexpr int kMenu = 300;     // menu only

class UpdateUITest : public ::testing::Test {
 protected:
  UpdateUITest()
      : ui({{kBoth, UIMenuPopup | UIToolBar}, {kToolbar, UIToolBar}, {kMenu, UIMenuPopup}}) {
    for (QAction* action : {&menuBoth, &toolBoth, &toolOnly, &menuOnly, &strayMenu})
      action->setCheckable(true);
    ui.UIAddMenuAction(kBoth, &menuBoth);
    ui.UIAddToolBarAction(kBoth, &toolBoth);
    ui.UIAddToolBarAction(kToolbar, &toolOnly);
    ui.UIAddMenuAction(kMenu, &menuOnly);
    // A place the entry is not shown in is never registered.
    ui.UIAddMenuAction(kToolbar, &strayMenu);
    ui.UIUpdateToolBar();
    ui.UIUpdateMenu();
  }

  CUpdateUI ui;
  QAction menuBoth, toolBoth, toolOnly, menuOnly, strayMenu;
};

}  // namespace

TEST_F(UpdateUITest, UnknownIdsAreIgnoredAndReadAsEnabledUnchecked) {
  ui.UIEnable(999, false);
  ui.UISetCheck(999, true);
  EXPECT_TRUE(ui.UIIsEnabled(999));
  EXPECT_FALSE(ui.UIIsChecked(999));
}

TEST_F(UpdateUITest, EachPlaceTakesTheStateOnlyWhenItIsPushed) {
  ui.UIEnable(kBoth, false);
  ui.UISetCheck(kBoth, true);
  EXPECT_FALSE(ui.UIIsEnabled(kBoth));
  EXPECT_TRUE(ui.UIIsChecked(kBoth));
  EXPECT_TRUE(toolBoth.isEnabled());
  EXPECT_TRUE(menuBoth.isEnabled());

  ui.UIUpdateToolBar();
  EXPECT_FALSE(toolBoth.isEnabled());
  EXPECT_TRUE(toolBoth.isChecked());
  EXPECT_TRUE(menuBoth.isEnabled()) << "the menu takes its state only when it opens";

  ui.UIUpdateMenu();
  EXPECT_FALSE(menuBoth.isEnabled());
  EXPECT_TRUE(menuBoth.isChecked());
}

TEST_F(UpdateUITest, OnlyDirtyEntriesArePushedUnlessForced) {
  ui.UIEnable(kToolbar, false);
  ui.UIUpdateToolBar();
  ASSERT_FALSE(toolOnly.isEnabled());

  // The button changed behind the table's back: an unchanged state is not pushed again...
  toolOnly.setEnabled(true);
  ui.UIEnable(kToolbar, false);
  ui.UIUpdateToolBar();
  EXPECT_TRUE(toolOnly.isEnabled());

  // ...but a forced one is.
  ui.UIEnable(kToolbar, false, true);
  ui.UIUpdateToolBar();
  EXPECT_FALSE(toolOnly.isEnabled());

  toolOnly.setChecked(true);
  ui.UISetCheck(kToolbar, false);
  ui.UIUpdateToolBar();
  EXPECT_TRUE(toolOnly.isChecked());
  ui.UISetCheck(kToolbar, false, true);
  ui.UIUpdateToolBar();
  EXPECT_FALSE(toolOnly.isChecked());
}

TEST_F(UpdateUITest, PlacesAreIndependent) {
  // A toolbar-only entry never touches a menu item, and a menu-only one no button.
  ui.UIEnable(kToolbar, false);
  ui.UIEnable(kMenu, false);
  ui.UIUpdateMenu();
  EXPECT_TRUE(strayMenu.isEnabled());
  EXPECT_FALSE(menuOnly.isEnabled());
  EXPECT_TRUE(toolOnly.isEnabled());
  ui.UIUpdateToolBar();
  EXPECT_FALSE(toolOnly.isEnabled());

  // Pushing one place leaves the other place's dirty mark in place.
  ui.UIEnable(kBoth, false);
  ui.UIUpdateToolBar();
  ui.UIUpdateToolBar();
  ui.UIUpdateMenu();
  EXPECT_FALSE(menuBoth.isEnabled());
}

TEST_F(UpdateUITest, AnActionRegisteredLateReceivesTheCurrentState) {
  ui.UIEnable(kBoth, false);
  ui.UISetCheck(kBoth, true);
  ui.UIUpdateToolBar();
  QAction late;
  late.setCheckable(true);
  ui.UIAddToolBarAction(kBoth, &late);
  ui.UIUpdateToolBar();
  EXPECT_FALSE(late.isEnabled());
  EXPECT_TRUE(late.isChecked());
}

TEST_F(UpdateUITest, ACheckIsNotForcedOntoAnItemThatCannotBeChecked) {
  QAction plain;
  CUpdateUI table({{1, UIToolBar}});
  table.UIAddToolBarAction(1, &plain);
  table.UISetCheck(1, true);
  table.UIUpdateToolBar();
  EXPECT_FALSE(plain.isChecked());
  EXPECT_TRUE(table.UIIsChecked(1));
}
