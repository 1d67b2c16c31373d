#include "panel/live/message_deduper.h"
