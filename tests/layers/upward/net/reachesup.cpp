#include "base/errors.h"
#include "app/main.h"
