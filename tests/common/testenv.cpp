#include "testenv.h"
