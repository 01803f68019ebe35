#pragma once

#include <QIcon>

namespace chwr {

// The program's icon (a bell with a note), painted at the usual sizes so that it needs
// no image plugin. resources/chimewright.svg is the same picture for the desktop menu.
QIcon programIcon();

} // namespace chwr
