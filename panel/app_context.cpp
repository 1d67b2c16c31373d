#include "panel/app_context.h"

namespace tessaly {

const wchar_t* const kWindowClass = L"TessalyControlPanel";

AppContext* g_app = nullptr;

}  // namespace tessaly
