// The error box of the layers below the front end (archive/, config/, fs/).
//
// The box belongs to the front end: its owner is the update dialog while that
// runs, and its default caption is the window title of the moment. The front
// end therefore installs the function that shows it when it starts; the lower
// layers only say what to show. A program without a front end (the
// publisher's tool) installs none, and errors are then shown nowhere.
#pragma once

#include "platform/win.h"

// Shows text in a modal error box and returns the box's answer. caption NULL
// stands for the front end's own caption (its window title).
typedef int (*ErrorBoxFunction)(LPCSTR text, LPCSTR caption);

// Installs show (NULL: none) as the error box of the lower layers.
void SetErrorBox(ErrorBoxFunction show);
// Shows text through the installed box; 0 when none is installed.
int ShowErrorBox(LPCSTR text, LPCSTR caption);
