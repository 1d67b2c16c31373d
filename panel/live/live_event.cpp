#include "panel/live/live_event.h"
