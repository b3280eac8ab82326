#include "app/Own.h"
#include "flow/Session.h"
#include "platform/Errors.h"
