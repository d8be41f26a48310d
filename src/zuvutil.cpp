#include "zuvmon.h"
