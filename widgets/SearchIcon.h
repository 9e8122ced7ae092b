#pragma once

#include <QIcon>

// A magnifier drawn in the button text colour at any size, for search buttons too narrow for
// their caption. Drawn here, so it looks the same on every system, with or without an icon theme.
QIcon searchIcon();
