/* winreg: placeholder until the area lands. */
#pragma once
#include "windef.h"
