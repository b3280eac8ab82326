#include "platform/Desktop.h"
#include "platform/x11/X11Desktop.h"
