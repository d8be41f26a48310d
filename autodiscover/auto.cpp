#include "zuvmon.h"
#include "auto.h"
