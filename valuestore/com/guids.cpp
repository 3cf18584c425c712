// Defines the GUIDs declared by the generated interface header (library, interfaces, class).
#include <initguid.h>

#include "ValtroveCtrl_h.h"
