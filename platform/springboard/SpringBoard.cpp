#include "SpringBoard.h"

namespace {
SpringBoard g_springBoard;
}

SpringBoard *const UIApp = &g_springBoard;
