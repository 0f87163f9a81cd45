#pragma once
// The pictures of the dialogs' buttons, drawn at run time so that no image
// files need to travel with the program.
#include <QIcon>

// A green check mark; Qt greys it out by itself while the button is disabled.
QIcon checkMarkPicture();

// A green arrow entering an open door.
QIcon exitDoorPicture();
