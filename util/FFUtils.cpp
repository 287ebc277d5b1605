#include "util/FFUtils.h"
