// The placement helper is shared by every window; it lives in ui/.
#pragma once

#include "ui/window_placement.h"
