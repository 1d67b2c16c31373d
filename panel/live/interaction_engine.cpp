#include "panel/live/interaction_engine.h"
