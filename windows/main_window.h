// The start-up window: the list of projects, the selected project's
// description and path, the count, and the buttons that open the others.
#pragma once

#include "app/toolkit.h"

namespace quillory::MainWindow {

extern const toolkit::Window layout;

void onCreated();
void onListItemSelected();
void onAddClicked();
void onModifyClicked();
void onDeleteClicked();
void onAboutClicked();
void onExitClicked();

// Routines the other windows call, also while this one lies disabled.
void refreshList();
void showCount();

}  // namespace quillory::MainWindow
