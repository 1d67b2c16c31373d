#include "panel/live/minijson.h"
